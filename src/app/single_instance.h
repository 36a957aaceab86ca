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
// that runs this copy, and a copy talks only to a copy of its own user.
// Socket and lock live in the user's private control folder
// (platform::controlFolder()); a folder, socket or lock of another user is
// refused, never used.
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <QByteArray>

#include <functional>

namespace app {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // Foreign: the copy listening there runs as another user and was not
    // asked anything.
    enum class RunningCopy { None, Shown, Minimised, Foreign };

    // The socket's full path: the control folder and "Pagora-" followed by
    // a hash of the home folder, so copies with different HOMEs (tests)
    // never meet, even in one control folder.
    static QString serverName();
    // The lock file beside the socket.
    static QString lockPath(const QString& name);

    // Asks a running copy to come forward and returns its answer; None when
    // no copy answers. Foreign sets *refusal to why it was not asked.
    static RunningCopy askRunningCopy(const QString& name, int timeoutMs = 5000,
                                      QString* refusal = nullptr);

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock that makes this copy the running one, making the
    // control folder when it is missing; false when a live copy holds it,
    // or, with refusal() telling why, when the folder or the lock file is
    // not this user's. The system releases the lock when the process ends,
    // however it ends; a normal end also removes the lock file.
    bool claim(const QString& name);

    // Starts listening. A socket file found there while this copy holds the
    // claim was left by a copy that died, and is removed; without the claim
    // it is removed only when no copy answers on it. False when it cannot
    // listen, with refusal() set when the socket file is another user's.
    bool listen(const QString& name);

    // Why claim() or listen() refused the place; empty when they did not.
    const QString& refusal() const { return refusal_; }

    // Whether a live copy of this user holds the claim (it may still be
    // starting and not listen yet). Creates nothing.
    static bool claimHeld(const QString& name);

    // Whether the socket and lock, where they exist, are this user's;
    // false with the reason in *refusal.
    static bool ownFiles(const QString& name, QString* refusal);

    // Called for each request; returns true when the window was shown and
    // brought forward, false when the program is minimised to the tray.
    std::function<bool()> comeForward;

    // Called for each control request (its first line without the line
    // end); returns the answer text sent back before the connection closes.
    std::function<QByteArray(const QByteArray& request)> control;

    // Empty when the process at the other end of a connected local socket
    // (of the socket at name) runs as this user; else why it is refused.
    static QString peerRefusal(const QString& name, qintptr socketDescriptor);

private:
    void answer();
    void handle(class QLocalSocket* client);
    QLocalServer server_;
    int lockFd_ = -1;
    QString lockPath_;
    QString refusal_;
};

} // namespace app
