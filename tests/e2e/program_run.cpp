#include "program_run.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <sched.h>
#include <unistd.h>

namespace e2e {

testsupport::HttpReply postForm(quint16 port, const QByteArray& path, const QByteArray& body) {
    const QByteArray origin = "localhost:" + QByteArray::number(port);
    return testsupport::fetch(
        port, "POST " + path + " HTTP/1.0\r\nHost: " + origin + "\r\nOrigin: http://" + origin +
                  "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

QByteArray shortcutText(const QString& url) {
    return "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n";
}

QByteArray settingsText(quint16 port, const QByteArray& general) {
    return "[Data]\r\nPort=" + QByteArray::number(port) +
           "\r\n[General]\r\nStartup=1\r\nHistory=0\r\nAutoStart=0\r\n" + general;
}

ProgramRun::ProgramRun(testsupport::TempHome& home) : home_(home) {}

ProgramRun::~ProgramRun() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void ProgramRun::writeSettings(const QByteArray& ini) {
    home_.write(".config/pagorama/pagorama.ini", ini);
}

void ProgramRun::start() {
    QProcessEnvironment env = home_.programEnvironment();
    // Temporary files (the browser's profile among them) of this home only,
    // so copies of the program started by other tests never tidy them away.
    QDir(home_.path()).mkpath("tmp");
    env.insert("TMPDIR", home_.path() + "/tmp");
    if (!display_.isEmpty())
        env.insert("DISPLAY", display_);
    process_.setWorkingDirectory(home_.path());
    if (network_ >= 0) {
        const int network = network_;
        process_.setChildProcessModifier([network] {
            if (::setns(network, CLONE_NEWNET) != 0)
                ::_exit(127);
        });
    }
    QString program = QStringLiteral(PAGORAMA_BINARY_DIR "/pagorama");
    if (probeTimeoutMs_ > 0) {
        program = QStringLiteral(PAGORAMA_BINARY_DIR "/pagorama_short_timeouts");
        env.insert("PAGORAMA_TEST_PROBE_TIMEOUT_MS", QString::number(probeTimeoutMs_));
    }
    process_.setProcessEnvironment(env);
    process_.start(program, {});
    process_.waitForStarted(10000);
}

QString ProgramRun::stderrText() {
    stderr_ += process_.readAllStandardError();
    return QString::fromUtf8(stderr_);
}

bool ProgramRun::waitUntil(const std::function<bool()>& check, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (check())
            return true;
        QThread::msleep(50);
    }
    return check();
}

bool ProgramRun::waitForStderr(const QString& text, int timeoutMs) {
    return waitUntil(
        [&] {
            process_.waitForReadyRead(20);
            return stderrText().contains(text);
        },
        timeoutMs);
}

int ProgramRun::terminate(int timeoutMs) {
    if (process_.state() == QProcess::NotRunning)
        return process_.exitCode();
    process_.terminate();
    if (!process_.waitForFinished(timeoutMs))
        return -1;
    stderrText();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

} // namespace e2e
