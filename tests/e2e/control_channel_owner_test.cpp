// The control channel belongs to its user. A listener that another user
// planted where the socket went before, or in the user's own folder, is
// never obeyed nor sent anything; a control folder, socket or lock file of
// another user stops the start with a message naming it; a client that
// sends nothing is closed after 5 s; and what a listener answers reaches the
// terminal as printable text only.
#include "planted_listener.h"
#include "program_command.h"
#include "program_run.h"
#include "support/temp_home.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using e2e::CommandResult;
using e2e::PlantedListener;
using e2e::ProgramRun;
using e2e::runPagoramaCommand;
using testsupport::TempHome;

namespace {

// The name of the socket for a home folder: anyone can compute it.
QString socketName(const TempHome& home) {
    const QByteArray hash =
        QCryptographicHash::hash(QDir::cleanPath(home.path()).toUtf8(), QCryptographicHash::Sha256);
    return "Pagora-" + QString::fromLatin1(hash.toHex().left(24));
}

class ControlChannelOwner : public ::testing::Test {
protected:
    void SetUp() override {
        program.writeSettings("[Data]\r\nPort=" + QByteArray::number(e2e::freePort()) +
                              "\r\n[General]\r\nStartup=0\r\nHistory=0\r\nAutoStart=0\r\n");
    }
    // Starts the program and waits until --status reaches it.
    bool startAndReach() {
        program.start();
        return ProgramRun::waitUntil(
            [&] { return runPagoramaCommand(home, {"--status"}).exitCode == 0; }, 30000);
    }
    // Runs the program to its end, for a start that is refused.
    CommandResult refusedStart() { return runPagoramaCommand(home, {}, 30000); }
    void chownToNobody(const QString& path) {
        ASSERT_EQ(QProcess::execute("chown", {"-h", "65534:65534", path}), 0);
    }

    TempHome home;
    ProgramRun program{home};
    const QString folder = home.runtimeFolder() + "/pagorama";
    const QString socket = folder + '/' + socketName(home);
};

const QByteArray FakeShutdown = "ok\nPagorama is shutting down\n";

bool needsRoot() {
    return ::geteuid() != 0;
}

TEST_F(ControlChannelOwner, AListenerOfAnotherUserIsNeitherObeyedNorToldAnything) {
    if (needsRoot())
        GTEST_SKIP() << "acting as another user needs root";
    // Where socket and lock used to be, names anyone could compute.
    PlantedListener shared(QDir::tempPath() + '/' + socketName(home), FakeShutdown,
                           {true, true, true});
    ASSERT_TRUE(shared.listening());
    ASSERT_TRUE(startAndReach()) << qPrintable(program.stderrText());
    ASSERT_EQ(program.process().state(), QProcess::Running) << qPrintable(program.stderrText());
    const CommandResult quit = runPagoramaCommand(home, {"--quit"});
    EXPECT_EQ(quit.exitCode, 0) << quit.err.constData();
    EXPECT_TRUE(program.process().waitForFinished(20000)) << "the real copy was not reached";
    EXPECT_FALSE(program.stderrText().contains("cannot listen"))
        << qPrintable(program.stderrText());
    EXPECT_EQ(shared.bytesReceived(), 0);

    // In the user's own folder, on a socket file of the user's, a listener
    // running as another user is refused before anything is sent.
    ASSERT_TRUE(QDir().mkpath(folder));
    PlantedListener inside(socket, FakeShutdown, {false, true});
    ASSERT_TRUE(inside.listening());
    for (const QString option : {"--quit", "--status"}) {
        const CommandResult refused = runPagoramaCommand(home, {option});
        EXPECT_EQ(refused.exitCode, 1) << qPrintable(option);
        EXPECT_TRUE(refused.out.isEmpty()) << refused.out.constData();
        EXPECT_EQ(refused.err, "Pagorama: refusing " + QFile::encodeName(socket) +
                                   ": the copy there runs as another user (uid 65534)\n");
    }
    EXPECT_EQ(inside.bytesReceived(), 0);
}

TEST_F(ControlChannelOwner, AFolderSocketOrLockOfAnotherUserStopsTheStartWithAMessage) {
    if (needsRoot())
        GTEST_SKIP() << "acting as another user needs root";
    // A control folder, a socket with a listener, and a lock file of
    // another user's, in turn.
    ASSERT_TRUE(QDir().mkpath(folder));
    chownToNobody(folder);
    CommandResult start = refusedStart();
    const QByteArray folderRefusal = "Pagorama: refusing " + QFile::encodeName(folder) +
                                     ": it belongs to another user (uid 65534)\n";
    EXPECT_EQ(start.exitCode, 1);
    EXPECT_EQ(start.err, folderRefusal);
    const CommandResult status = runPagoramaCommand(home, {"--status"});
    EXPECT_EQ(status.exitCode, 1);
    EXPECT_EQ(status.err, folderRefusal);

    // A folder of the user's that others may enter is closed, not refused.
    ASSERT_EQ(QProcess::execute("chown", {"0:0", folder}), 0);
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
    {
        PlantedListener planted(socket, FakeShutdown, {true, false});
        ASSERT_TRUE(planted.listening());
        start = refusedStart();
        EXPECT_EQ(start.exitCode, 1);
        EXPECT_EQ(start.err, "Pagorama: refusing " + QFile::encodeName(socket) +
                                 ": it belongs to another user (uid 65534)\n");
        EXPECT_EQ(planted.bytesReceived(), 0);
        EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, 0);
    }

    const QString lock = socket + ".lock";
    QFile(lock).open(QIODevice::WriteOnly);
    QFile::setPermissions(lock, QFileDevice::Permissions(0x6666));
    chownToNobody(lock);
    start = refusedStart();
    EXPECT_EQ(start.exitCode, 1);
    EXPECT_EQ(start.err, "Pagorama: refusing " + QFile::encodeName(lock) +
                             ": it belongs to another user (uid 65534)\n");
}

// Connects to path and returns how long it stayed open while sending
// nothing (at most limitMs); -1 when it could not connect.
qint64 silentConnectionLife(const QString& path, int limitMs) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    std::memcpy(address.sun_path, native.constData(),
                std::min(size_t(native.size()), sizeof address.sun_path - 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    QElapsedTimer open;
    open.start();
    pollfd wait{fd, POLLIN, 0};
    char byte;
    while (!open.hasExpired(limitMs) && ::poll(&wait, 1, 100) >= 0)
        if ((wait.revents & (POLLIN | POLLHUP)) && ::read(fd, &byte, 1) <= 0)
            break;
    ::close(fd);
    return open.elapsed();
}

TEST_F(ControlChannelOwner, SilentClientsAreClosedAndAnswersReachTheTerminalAsText) {
    ASSERT_TRUE(startAndReach()) << qPrintable(program.stderrText());
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, 0);
    const qint64 life = silentConnectionLife(socket, 15000);
    EXPECT_GE(life, 4000);
    EXPECT_LE(life, 8000);
    EXPECT_EQ(runPagoramaCommand(home, {"--quit"}).exitCode, 0);
    ASSERT_TRUE(program.process().waitForFinished(20000));

    // A listener of the user's own whose answer carries terminal controls.
    PlantedListener own(socket, "ok\n\x1b]0;title\x07Status: \x1b[2Jred\x9b\tdone\n", {});
    ASSERT_TRUE(own.listening());
    const CommandResult status = runPagoramaCommand(home, {"--status"});
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_EQ(status.out, "\uFFFD]0;title\uFFFDStatus: \uFFFD[2Jred\uFFFD\tdone\n")
        << status.out.toHex(' ').constData();
}

} // namespace
