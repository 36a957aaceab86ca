#pragma once
// Runs the built pagorama program for a whole-program test: a temporary
// HOME with a Favorites tree, a settings file that sets a free port, no
// display, and its standard error collected.
#include "support/free_port.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <functional>

namespace e2e {

// Whole-program tests take their ports where every other test does.
using testsupport::freePort;
// The text of an Internet shortcut to url.
QByteArray shortcutText(const QString& url);
// A settings file: the server on port, a refresh at start, no history
// analysis, no autostart, and the given further lines of [General].
QByteArray settingsText(quint16 port, const QByteArray& general = {});

// Posts a form to the program's server as its own pages do (from a page the
// server itself served).
testsupport::HttpReply postForm(quint16 port, const QByteArray& path, const QByteArray& body);

class ProgramRun {
public:
    explicit ProgramRun(testsupport::TempHome& home);
    ~ProgramRun();

    // Writes the settings file before start (text of an INI file).
    void writeSettings(const QByteArray& ini);
    void start();
    // Starts the program inside a network namespace (an open descriptor of it).
    void setNetworkNamespace(int fd) { network_ = fd; }
    // Starts the program on an X display (":N") instead of without one.
    void setDisplay(const QString& display) { display_ = display; }
    // Starts the build of the program whose site probe gives up after ms
    // without progress instead of its fixed 60 s.
    void setProbeTimeoutMs(int ms) { probeTimeoutMs_ = ms; }
    // Waits until the program's standard error holds text; false at the time-out.
    bool waitForStderr(const QString& text, int timeoutMs);
    // Waits until check() holds, checking every 50 ms; false at the time-out.
    static bool waitUntil(const std::function<bool()>& check, int timeoutMs);
    // Sends SIGTERM and waits for the end; returns the exit code (-1 if it hung).
    int terminate(int timeoutMs = 20000);
    QString stderrText();
    QProcess& process() { return process_; }

private:
    testsupport::TempHome& home_;
    QProcess process_;
    QString display_;
    QByteArray stderr_;
    int network_ = -1;
    int probeTimeoutMs_ = 0;
};

} // namespace e2e
