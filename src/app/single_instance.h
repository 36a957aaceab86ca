#pragma once
// One running copy per user. The first copy listens on a local socket named
// after the program and the user's home folder; a later copy connects and
// asks it to come forward. The first copy answers "shown" when its
// configuration window is on screen (and raises it), or "minimised" when the
// program sits in the tray only. Which copy is the first is settled by an
// exclusive lock on a file beside the socket, held for the copy's life, so
// copies started at the same moment never take the socket from each other.
// The same channel carries the control requests of the command line
// (refresh, cancel, quit, status, show). It answers only processes of the user
// that runs this copy.
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <QByteArray>

#include <functional>

namespace app {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class RunningCopy { None, Shown, Minimised };

    // "Pagora-" followed by a hash of the home folder, so copies with
    // different HOMEs (tests) never meet.
    static QString serverName();

    // Asks a running copy to come forward and returns its answer; None when
    // no copy answers.
    static RunningCopy askRunningCopy(const QString& name, int timeoutMs = 5000);

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock that makes this copy the running one; false when a
    // live copy holds it. The system releases it when the process ends,
    // however it ends; a normal end also removes the lock file.
    bool claim(const QString& name);

    // Starts listening. A socket file found there while this copy holds the
    // claim was left by a copy that died, and is removed; without the claim
    // it is removed only when no copy answers on it.
    bool listen(const QString& name);

    // Whether a live copy holds the claim (it may still be starting and
    // not listen yet). Creates nothing.
    static bool claimHeld(const QString& name);

    // Called for each request; returns true when the window was shown and
    // brought forward, false when the program is minimised to the tray.
    std::function<bool()> comeForward;

    // Called for each control request (its first line without the line
    // end); returns the answer text sent back before the connection closes.
    std::function<QByteArray(const QByteArray& request)> control;

    // Whether the process at the other end of a connected local socket runs
    // as the same user as this one.
    static bool peerIsSameUser(qintptr socketDescriptor);

private:
    void answer();
    void handle(class QLocalSocket* client);
    QLocalServer server_;
    int lockFd_ = -1;
    QString lockPath_;
};

} // namespace app
