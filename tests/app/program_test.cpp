// The whole program: one copy per user. A second copy started while the
// first sits in the tray says "Already Running" (on stderr and with status 1
// without a display); when the first shows its window the second only
// brings it forward and ends. SIGTERM ends the program like "C&lose".
#include "app/single_instance.h"
#include "support/temp_home.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "app_program_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: it must outlive every static of Qt that a test touched.
    static auto* instance = new QCoreApplication(argc, argv);
    return *instance;
}

const QString Binary = QStringLiteral(PAGORAMA_BINARY_DIR "/pagorama");
bool saysAlreadyRunning(const QByteArray& errors) {
    return errors.contains("Another copy of Pagorama is already running.") &&
           errors.contains("Right Click on the Pagorama icon in your system tray to configure it.");
}

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A headless copy of the program in the test's HOME.
void prepare(QProcess& process) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(environment);
    process.setProgram(Binary);
}

// Runs a copy to its end while this process keeps handling events.
int runToEnd(QProcess& process, QByteArray* errors) {
    prepare(process);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    process.start();
    loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return -1000;
    }
    *errors = process.readAllStandardError();
    return process.exitCode();
}

bool waitUntilListening() {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000) {
        if (app::SingleInstance::askRunningCopy(app::SingleInstance::serverName(), 1000) !=
            app::SingleInstance::RunningCopy::None)
            return true;
        QThread::msleep(100);
    }
    return false;
}

// Leaves a socket file behind, as a copy that crashed would.
void leaveStaleSocket(const QString& name) {
    QDir().mkpath(QFileInfo(name).path()); // open to others: the program closes it
    const QByteArray path = QFile::encodeName(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ::unlink(path.constData());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd); // bound, never listening, file left behind
}

class Program : public ::testing::Test {
public:
    void SetUp() override {
        application();
        home.write(".config/pagorama/pagorama.ini",
                   QStringLiteral("[Data]\r\nPort=%1\r\n[General]\r\nStartup=0\r\n")
                       .arg(freePort())
                       .toUtf8());
    }
    testsupport::TempHome home;
};

TEST_F(Program, SecondCopyWhileTheFirstIsInTheTraySaysAlreadyRunning) {
    const QString name = app::SingleInstance::serverName();
    leaveStaleSocket(name);

    QProcess first;
    prepare(first);
    first.start();
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntilListening()) << first.readAllStandardError().constData();

    QProcess second;
    QByteArray errors;
    EXPECT_EQ(runToEnd(second, &errors), 1);
    EXPECT_TRUE(saysAlreadyRunning(errors)) << errors.constData();
    EXPECT_EQ(first.state(), QProcess::Running);

    // SIGTERM ends it like "C&lose": settings saved, status 0.
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    const QByteArray saved = home.read(".config/pagorama/pagorama.ini");
    EXPECT_TRUE(saved.contains("[WindowMain]")) << saved.constData();
    EXPECT_EQ(home.setting("General", "Startup"), "0");
    EXPECT_FALSE(QFile::exists(name));           // socket removed at exit
    EXPECT_FALSE(QFile::exists(name + ".lock")); // and its lock
}

TEST_F(Program, InterruptEndsLikeCloseAndSavesTheSettings) {
    QProcess first;
    prepare(first);
    first.start();
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntilListening()) << first.readAllStandardError().constData();
    ASSERT_EQ(::kill(pid_t(first.processId()), SIGINT), 0);
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_TRUE(home.read(".config/pagorama/pagorama.ini").contains("[WindowMain]"));
}

TEST_F(Program, SecondCopyWhileTheFirstShowsItsWindowOnlyBringsItForward) {
    app::SingleInstance first;
    int asked = 0;
    first.comeForward = [&asked] {
        ++asked;
        return true; // the configuration window is on screen
    };
    ASSERT_TRUE(first.claim(app::SingleInstance::serverName()));
    ASSERT_TRUE(first.listen(app::SingleInstance::serverName()));

    QProcess second;
    QByteArray errors;
    EXPECT_EQ(runToEnd(second, &errors), 0);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(errors.contains("Another copy")) << errors.constData();
    // It ended before making a window of its own: no settings were written.
    EXPECT_FALSE(home.read(".config/pagorama/pagorama.ini").contains("[WindowMain]"));
}

TEST_F(Program, AMinimisedFirstCopyInThisProcessMakesTheSecondReport) {
    app::SingleInstance first;
    first.comeForward = [] { return false; };
    ASSERT_TRUE(first.claim(app::SingleInstance::serverName()));
    ASSERT_TRUE(first.listen(app::SingleInstance::serverName()));
    QProcess second;
    QByteArray errors;
    EXPECT_EQ(runToEnd(second, &errors), 1);
    EXPECT_TRUE(saysAlreadyRunning(errors)) << errors.constData();
}

TEST_F(Program, TenCopiesStartedAtOnceLeaveExactlyOneRunning) {
    // A socket left by a crash must not let two of them in either.
    leaveStaleSocket(app::SingleInstance::serverName());
    std::vector<std::unique_ptr<QProcess>> copies;
    for (int i = 0; i < 10; ++i) {
        copies.push_back(std::make_unique<QProcess>());
        prepare(*copies.back());
    }
    for (auto& copy : copies)
        copy->start();
    for (auto& copy : copies)
        ASSERT_TRUE(copy->waitForStarted());

    // The nine later copies end by themselves, each saying why.
    const auto running = [&copies] {
        int count = 0;
        for (auto& copy : copies)
            count += copy->state() != QProcess::NotRunning;
        return count;
    };
    QElapsedTimer waited;
    waited.start();
    while (running() > 1 && waited.elapsed() < 60000) {
        for (auto& copy : copies)
            copy->waitForFinished(50);
    }
    // And the one left is really serving the name, not just slow to go.
    QThread::msleep(1000);
    ASSERT_EQ(running(), 1);
    ASSERT_TRUE(waitUntilListening());
    for (auto& copy : copies) {
        if (copy->state() != QProcess::NotRunning)
            continue;
        EXPECT_EQ(copy->exitCode(), 1);
        EXPECT_TRUE(saysAlreadyRunning(copy->readAllStandardError()));
    }
    for (auto& copy : copies) {
        if (copy->state() == QProcess::NotRunning)
            continue;
        copy->terminate();
        EXPECT_TRUE(copy->waitForFinished(30000));
    }
}

} // namespace
