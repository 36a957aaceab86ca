// The control options of the real program against a running copy: --status
// shows a run's progress and the pages' address, --refresh starts a run,
// --cancel ends it at once and returns when it has, --quit ends the program with
// its settings saved; with no copy running each exits 2 and starts none;
// --show reaches the running copy or starts one; and the channel takes no
// request from another user.
#include "program_command.h"
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>

using e2e::CommandResult;
using e2e::ProgramRun;
using e2e::runPagoramaCommand;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

QByteArray settings(quint16 port) {
    return "[Data]\r\nPort=" + QByteArray::number(port) +
           "\r\n[General]\r\nStartup=0\r\nHistory=0\r\nAutoStart=0\r\nTime_refresh=0\r\n";
}

const QString Binary = QStringLiteral(PAGORAMA_BINARY_DIR "/pagorama");

// Starts program with arguments in home and without a display.
void startInHome(QProcess& process, const TempHome& home, const QString& program,
                 const QStringList& arguments) {
    process.setProcessEnvironment(home.programEnvironment());
    process.start(program, arguments);
}

// Starts Pagorama as the user nobody (the test runs as root).
void startAsNobody(QProcess& process, const TempHome& home, const QStringList& arguments = {}) {
    startInHome(process, home, "setpriv",
                QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", Binary} +
                    arguments);
}

CommandResult runAsNobody(const TempHome& home, const QStringList& arguments) {
    QProcess process;
    startAsNobody(process, home, arguments);
    CommandResult result;
    if (!process.waitForFinished(30000))
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

class ControlOptions : public ::testing::Test {
protected:
    ~ControlOptions() override { release = true; }

    // Polls --status until its output holds text; the last output.
    QString waitForStatus(const QString& text) {
        QString last;
        ProgramRun::waitUntil(
            [&] {
                const CommandResult status = runPagoramaCommand(home, {"--status"});
                last = QString::fromUtf8(status.out + status.err);
                return status.exitCode == 0 && last.contains(text);
            },
            30000);
        return last;
    }

    TempHome home;
    TestSite site;
    std::atomic<bool> release{false};
    const quint16 port = e2e::freePort();
};

TEST_F(ControlOptions, EachOptionExitsTwoAndStartsNothingWhenNoCopyRuns) {
    for (const QString option : {"--refresh", "--cancel", "--quit", "--status"}) {
        const CommandResult result = runPagoramaCommand(home, {option}, 30000);
        EXPECT_EQ(result.exitCode, 2) << qPrintable(option);
        EXPECT_EQ(result.err, "Pagorama is not running\n") << qPrintable(option);
        EXPECT_TRUE(result.out.isEmpty()) << qPrintable(option);
    }
    // A started copy would have made its program folder and settings file.
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/.config/pagorama/pagorama.ini"));
    EXPECT_FALSE(QFileInfo::exists(home.dataFolder()));
}

TEST_F(ControlOptions, HelpListsEveryOptionAndVersionNamesTheRelease) {
    const CommandResult help = runPagoramaCommand(home, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--import-bookmarks SOURCE", "--export-bookmarks FILE", "--refresh",
                               "--cancel", "--quit", "--status", "--show", "--version", "--help"})
        EXPECT_TRUE(help.out.contains(option)) << option;
    EXPECT_TRUE(help.out.contains("\"Start Pagorama with Windows\"")) << help.out.constData();
    const CommandResult version = runPagoramaCommand(home, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(QRegularExpression("^Pagorama \\d+\\.\\d+(\\.\\d+)*\n$")
                    .match(QString::fromUtf8(version.out))
                    .hasMatch())
        << version.out.constData();
    const CommandResult wrong = runPagoramaCommand(home, {"--status", "now"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wrong.err.contains("unexpected argument now")) << wrong.err.constData();
}

TEST_F(ControlOptions, StatusRefreshCancelAndQuitDriveTheRunningCopy) {
    site.setRoute("/hold", [this](const TestSite::Request&, TestSite::Connection& connection) {
        for (int waited = 0; !release && waited < 60000; waited += 20)
            QThread::msleep(20);
        connection.send(TestSite::response(200, "text/html", TestSite::page("Held")));
    });
    home.write("Favorites/a.url", e2e::shortcutText(site.url("/title")));
    home.write("Favorites/b.url", e2e::shortcutText(site.url("/title")));
    home.write("Favorites/c.url", e2e::shortcutText(site.url("/hold")));
    home.write("Favorites/d.url", e2e::shortcutText(site.url("/status/200")));
    ProgramRun program(home);
    program.writeSettings(settings(port));
    program.start();

    QString status = waitForStatus("No refresh is running");
    ASSERT_TRUE(status.contains("No refresh is running")) << qPrintable(status);
    EXPECT_TRUE(status.contains(QString("Pages: http://localhost:%1/\n").arg(port)))
        << qPrintable(status);

    CommandResult refresh = runPagoramaCommand(home, {"--refresh"});
    EXPECT_EQ(refresh.exitCode, 0) << refresh.err.constData();
    EXPECT_EQ(refresh.out, "Refresh started\n");

    // The third favourite holds the run.
    status = waitForStatus("Refreshing: 3 of 4 favourites");
    ASSERT_TRUE(status.contains("Refreshing: 3 of 4 favourites")) << qPrintable(status);
    EXPECT_TRUE(status.contains("Status: ")) << qPrintable(status);
    refresh = runPagoramaCommand(home, {"--refresh"});
    EXPECT_EQ(refresh.exitCode, 0);
    EXPECT_EQ(refresh.out, "A refresh is already running\n");

    const CommandResult cancel = runPagoramaCommand(home, {"--cancel"});
    EXPECT_EQ(cancel.exitCode, 0) << cancel.err.constData();
    // It returns once the run has ended, the favourite in progress abandoned.
    EXPECT_EQ(cancel.out, "Cancelling the refresh\nRefresh cancelled\n");
    status = runPagoramaCommand(home, {"--status"}).out;
    EXPECT_TRUE(status.contains("No refresh is running")) << qPrintable(status);
    release = true;
    // The run never took up the favourite after the one in progress, and
    // work on it ahead of the run ended with the cancel.
    const QByteArray trace = home.read(".config/pagorama/files.log");
    EXPECT_TRUE(trace.contains("File = c.url")) << trace.constData();
    EXPECT_FALSE(trace.contains("File = d.url")) << trace.constData();
    const int laterRequests = site.requestCount("/status/200");
    QThread::msleep(300);
    EXPECT_EQ(site.requestCount("/status/200"), laterRequests);
    EXPECT_EQ(runPagoramaCommand(home, {"--cancel"}).out, "No refresh is running\n");

    const CommandResult quit = runPagoramaCommand(home, {"--quit"});
    EXPECT_EQ(quit.exitCode, 0) << quit.err.constData();
    EXPECT_EQ(quit.out, "Pagorama is shutting down\n");
    ASSERT_TRUE(program.process().waitForFinished(20000)) << qPrintable(program.stderrText());
    EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.process().exitCode(), 0);
    // Saved on the way out: the window's keys join the file, ours stay.
    const QByteArray ini = home.read(".config/pagorama/pagorama.ini");
    EXPECT_TRUE(ini.contains("[WindowMain]")) << ini.constData();
    EXPECT_EQ(home.setting("Data", "Port"), QString::number(port));
    EXPECT_EQ(home.setting("General", "Time_refresh"), "0");
    EXPECT_EQ(runPagoramaCommand(home, {"--status"}).exitCode, 2);
}

// The menu entry's command: with no copy running it starts one (here without
// a display, so without a window); a running copy takes it instead of a
// second copy saying "Already Running".
TEST_F(ControlOptions, ShowStartsPagoramaOrAsksTheRunningCopy) {
    home.write(".config/pagorama/pagorama.ini", settings(port));
    QProcess program;
    startInHome(program, home, Binary, {"--show"});
    ASSERT_TRUE(waitForStatus("No refresh is running").contains("No refresh is running"));
    const CommandResult show = runPagoramaCommand(home, {"--show"});
    EXPECT_EQ(show.exitCode, 0) << show.err.constData();
    EXPECT_EQ(show.out, "Pagorama runs without a display and has no window to show\n");
    EXPECT_TRUE(show.err.isEmpty()) << show.err.constData();
    EXPECT_EQ(runPagoramaCommand(home, {"--quit"}).exitCode, 0);
    EXPECT_TRUE(program.waitForFinished(20000));
}

TEST_F(ControlOptions, AnotherUserCannotControlTheRunningCopy) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    ProgramRun program(home);
    program.writeSettings(settings(port));
    program.start();
    ASSERT_TRUE(waitForStatus("No refresh is running").contains("No refresh is running"));

    for (const QString option : {"--quit", "--refresh", "--status"}) {
        const CommandResult other = runAsNobody(home, {option});
        EXPECT_EQ(other.exitCode, 1) << qPrintable(option) << other.err.constData();
        EXPECT_TRUE(other.out.isEmpty()) << qPrintable(option) << other.out.constData();
        // The running copy's private folder is closed to it.
        EXPECT_TRUE(
            other.err.startsWith("Pagorama: refusing " + QFile::encodeName(home.runtimeFolder())))
            << other.err.constData();
    }
    QThread::msleep(300);
    EXPECT_EQ(program.process().state(), QProcess::Running);
    EXPECT_TRUE(waitForStatus("No refresh is running").contains("No refresh is running"));
    EXPECT_EQ(runPagoramaCommand(home, {"--quit"}).exitCode, 0);
    EXPECT_TRUE(program.process().waitForFinished(20000));
}

// Root passes the socket file's permissions; the peer's credentials still
// keep it out of a copy that another user runs.
TEST_F(ControlOptions, ACopyOfAnotherUserRefusesEvenRoot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    home.write(".config/pagorama/pagorama.ini", settings(port));
    QDir().mkpath(home.favorites());
    ASSERT_EQ(QProcess::execute("chown", {"-R", "65534:65534", home.path()}), 0);
    QProcess program;
    startAsNobody(program, home);
    ASSERT_TRUE(program.waitForStarted(10000));
    // Its own user is answered.
    CommandResult own;
    ProgramRun::waitUntil(
        [&] {
            own = runAsNobody(home, {"--status"});
            return own.exitCode == 0;
        },
        30000);
    ASSERT_EQ(own.exitCode, 0) << own.err.constData();

    const CommandResult root = runPagoramaCommand(home, {"--quit"});
    EXPECT_NE(root.exitCode, 0);
    EXPECT_FALSE(root.out.contains("shutting down")) << root.out.constData();
    EXPECT_FALSE(program.waitForFinished(1000));
    EXPECT_EQ(program.state(), QProcess::Running);

    EXPECT_EQ(runAsNobody(home, {"--quit"}).exitCode, 0);
    EXPECT_TRUE(program.waitForFinished(20000));
}

} // namespace
