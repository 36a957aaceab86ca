#include "platform/message_service.h"
#include "platform/paths.h"
#include "platform/settings_model.h"
#include "support/free_port.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"
#include "webserver/web_server_controller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <csignal>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace webserver;
using testsupport::HttpTestClient;
using testsupport::processUntil;

namespace {

const QDateTime FixedTime(QDate(2003, 1, 6), QTime(14, 5, 9));

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ensureCoreApplication();
        docDir = home.dataFolder();
        docDir.chop(1);
        home.write("Documents/pagorama/viewer.htm", "<p>viewer</p>");
        controller = std::make_unique<WebServerController>();
        controller->log().clock = [] { return FixedTime; };
        controller->server().setAddr("127.0.0.1");
    }
    void TearDown() override { controller.reset(); }

    QByteArray request(const QByteArray& text) {
        QByteArray answer;
        const quint16 port = controller->server().listeningPort();
        testsupport::runWithEventLoop([&] { answer = testsupport::fetch(port, text).body; });
        return answer;
    }

    testsupport::TempHome home;
    QString docDir;
    std::unique_ptr<WebServerController> controller;
};

} // namespace

TEST_F(ControllerTest, StartLogsAndLocksThenStopUnlocks) {
    QList<bool> listening;
    QObject::connect(controller.get(), &WebServerController::listeningChanged,
                     [&](bool on) { listening << on; });
    const quint16 port = testsupport::freePort();
    ASSERT_TRUE(controller->start(" " + QString::number(port) + " ", docDir));
    EXPECT_TRUE(controller->isListening());
    EXPECT_EQ(controller->server().listeningPort(), port);
    EXPECT_EQ(controller->log().displayLines().last(), "Server is waiting for connections");
    EXPECT_EQ(listening, QList<bool>{true});

    platform::SettingsModel settings;
    controller->saveTo(settings);
    EXPECT_EQ(settings.serverPort, QString::number(port));
    EXPECT_EQ(settings.docDir, docDir);
    EXPECT_EQ(settings.defaultDoc, "viewer.htm");

    controller->stop();
    EXPECT_FALSE(controller->isListening());
    EXPECT_EQ(controller->log().displayLines().last(), "Server stopped");
    EXPECT_EQ(listening, (QList<bool>{true, false}));
}

TEST_F(ControllerTest, StartFailuresShowTheErrorBox) {
    platform::ScopedMessageRecorder messages;
    int listening = 0;
    QObject::connect(controller.get(), &WebServerController::listeningChanged,
                     [&] { ++listening; });
    EXPECT_FALSE(controller->start("abc", docDir));
    EXPECT_FALSE(controller->isListening());

    WebServerController first;
    first.server().setAddr("127.0.0.1");
    const quint16 port = testsupport::freePort();
    ASSERT_TRUE(first.start(QString::number(port), docDir));
    EXPECT_FALSE(controller->start(QString::number(port), docDir)) << "port taken";

    EXPECT_EQ(messages.texts,
              QStringList(2, "Unable to start internal Web server. Try choosing a different Web "
                             "Server Port."));
    EXPECT_EQ(listening, 0);
}

TEST_F(ControllerTest, RequestLinesAndHeaders) {
    ASSERT_TRUE(controller->start("0", docDir));
    for (int i = 0; i < 6; ++i)
        controller->nextRequestNumber();
    EXPECT_EQ(request("GET / HTTP/1.1\r\n\r\n"), "<p>viewer</p>");
    EXPECT_EQ(controller->log().displayLines().last(), "[14:05:09 127.0.0.1] 7: GET /");

    EXPECT_TRUE(request("HEAD /?q=1 HTTP/1.1\r\nHost: localhost\r\n\r\n").isEmpty());
    EXPECT_EQ(controller->log().displayLines().last(), "8: HEAD /");

    controller->setDisplayHeader(true);
    request("GET /viewer.htm?x=1 HTTP/1.1\r\nHost: localhost\r\nAccept: */*\r\nX-Three: 3\r\n\r\n");
    EXPECT_EQ(controller->log().displayLines().mid(controller->log().displayLines().size() - 4),
              (QStringList{"[14:05:09 127.0.0.1] 9: GET /viewer.htm", "HDR1) Host: localhost",
                           "HDR2) Accept: */*", "HDR3) X-Three: 3"}));
    // HEAD never logs its header lines.
    request("HEAD / HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(controller->log().displayLines().last(), "10: HEAD /");

    // Without an edit-action handler a post is counted, logged and answered 404.
    request("POST /cgi-bin/cgifrm1.exe HTTP/1.0\r\nContent-Length: 3\r\n\r\na=b");
    EXPECT_EQ(controller->log().displayLines().mid(controller->log().displayLines().size() - 2),
              (QStringList{"11: POST /cgi-bin/cgifrm1.exe", "HDR1) Content-Length: 3"}));
    EXPECT_EQ(controller->requestCount(), 11);
}

TEST_F(ControllerTest, ForeignHostsAreRefusedAndLoggedSharingListensAgain) {
    EXPECT_FALSE(controller->shareOnNetwork());
    ASSERT_TRUE(controller->start("0", docDir));
    EXPECT_EQ(controller->server().addr(), "127.0.0.1");
    const QByteArray port = QByteArray::number(controller->server().listeningPort());
    EXPECT_TRUE(request("GET /viewer.htm HTTP/1.1\r\nHost: evil.example:" + port + "\r\n\r\n")
                    .contains("403 Forbidden"));
    EXPECT_EQ(controller->log().displayLines().last(),
              "[14:05:09 127.0.0.1] Refused GET /viewer.htm: Host 'evil.example:" + port +
                  "' does not name this machine");
    EXPECT_EQ(controller->requestCount(), 0) << "a refused request is not counted";
    EXPECT_EQ(request("GET /viewer.htm HTTP/1.1\r\nHost: localhost:" + port + "\r\n\r\n"),
              "<p>viewer</p>");

    // Sharing takes effect at once: the server listens again on every interface.
    ASSERT_TRUE(controller->setShareOnNetwork(true));
    EXPECT_TRUE(controller->isListening());
    EXPECT_EQ(controller->server().addr(), "0.0.0.0");
    EXPECT_TRUE(controller->setShareOnNetwork(false));
    EXPECT_EQ(controller->server().addr(), "127.0.0.1");
    EXPECT_TRUE(controller->isListening());
}

TEST_F(ControllerTest, HugeRequestPathsAndHeadersAreLoggedCut) {
    ASSERT_TRUE(controller->start("0", docDir));
    controller->setDisplayHeader(true);
    // A path of 65,000 bytes of two-byte characters: the cut keeps whole ones.
    QByteArray path = "/";
    while (path.size() < 65000)
        path += "\xc3\xa9";
    path.truncate(65000);
    request("GET " + path + " HTTP/1.0\r\nX-Long: " + QByteArray(60000, 'h') + "\r\n\r\n");
    const QStringList lines = controller->log().displayLines();
    ASSERT_GE(lines.size(), 2);
    const QString expectedPath = QString::fromUtf8(path.left(ServerLog::ValueLimit - 1));
    EXPECT_EQ(lines[lines.size() - 2],
              "[14:05:09 127.0.0.1] 1: GET " + expectedPath + "... (65000 bytes)");
    EXPECT_EQ(lines.last(),
              "HDR1) X-Long: " + QString(ServerLog::ValueLimit - 8, 'h') + "... (60008 bytes)");
}

TEST_F(ControllerTest, ClientCountFollowsConnections) {
    ASSERT_TRUE(controller->start("0", docDir));
    const quint16 port = controller->server().listeningPort();
    int shown = -1;
    QObject::connect(controller.get(), &WebServerController::clientCountChanged,
                     [&](int count) { shown = count; });
    auto first = std::make_unique<HttpTestClient>(port);
    auto second = std::make_unique<HttpTestClient>(port);
    EXPECT_TRUE(processUntil([&] { return shown == 2; }));
    first.reset();
    EXPECT_TRUE(processUntil([&] { return shown == 1; }));
    EXPECT_EQ(controller->clientCount(), 1);
}

TEST_F(ControllerTest, BannerReplacesTheDisplay) {
    controller->log().logLine("old line");
    controller->writeBanner();
    const QStringList lines = controller->log().displayLines();
    ASSERT_GE(lines.size(), 9);
    EXPECT_FALSE(lines.contains("old line"));
    EXPECT_EQ(lines[1], "Using:");
    for (int i = 2; i <= 4; ++i)
        EXPECT_TRUE(lines[i].startsWith("   ") && lines[i][3] != ' ') << lines[i].toStdString();
    EXPECT_EQ(lines[5], "    Sockets:");
    EXPECT_TRUE(QRegularExpression("^        Version \\d+\\.\\d+$").match(lines[6]).hasMatch())
        << lines[6].toStdString();
    for (int i = 7; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith("        ")) << lines[i].toStdString();
}

TEST(ServerLog, DisplayKeepsTheLast201Lines) {
    ServerLog log(nullptr, "/nonexistent-folder/never-opened.log");
    int added = 0;
    QObject::connect(&log, &ServerLog::lineAdded, [&] { ++added; });
    for (int i = 1; i <= 250; ++i)
        log.logLine(QString("line %1").arg(i));
    ASSERT_EQ(log.displayLines().size(), 201);
    EXPECT_EQ(log.displayLines().first(), "line 50");
    EXPECT_EQ(log.displayLines().last(), "line 250");
    EXPECT_EQ(added, 250);
    log.clearDisplay();
    EXPECT_TRUE(log.displayLines().isEmpty());
}

TEST(ServerLog, LongLinesAreCutOnTheDisplayAndInTheFile) {
    testsupport::TempHome home;
    ServerLog log;
    ASSERT_TRUE(log.setWriteToFile(true));
    log.logLine(QString(100000, 'a'));
    const QString cut = QString(ServerLog::LoggedLineLimit, 'a') + "... (100000 characters)";
    EXPECT_EQ(log.displayLines(), QStringList{cut});
    log.closeLogFile();
    const QStringList written = fileLines(platform::serverLogFilePath());
    ASSERT_EQ(written.size(), 3);
    EXPECT_EQ(written[1], cut);
}

TEST(ServerLog, FileOpenCloseAndClear) {
    testsupport::TempHome home;
    ServerLog log;
    log.clock = [] { return FixedTime; };
    EXPECT_TRUE(log.setWriteToFile(true));
    EXPECT_TRUE(log.displayLines().isEmpty()) << "the opening line goes to the file only";
    log.logLine("1: HEAD /");
    log.clearDisplay();
    log.logLine("2: HEAD /");
    EXPECT_FALSE(log.setWriteToFile(false));
    log.logLine("not in the file");
    EXPECT_TRUE(log.setWriteToFile(true)); // appends
    log.closeLogFile();
    EXPECT_EQ(fileLines(platform::serverLogFilePath()),
              (QStringList{"[14:05:09 2003/01/06 Log file opened.]", "1: HEAD /", "2: HEAD /",
                           "[14:05:09 2003/01/06 Log file Closed.]",
                           "[14:05:09 2003/01/06 Log file opened.]",
                           "[14:05:09 2003/01/06 Log file Closed.]"}));
    EXPECT_EQ(log.displayLines(), (QStringList{"2: HEAD /", "not in the file"}));
}

TEST(ServerLog, RequestLinesReadTheSameKeptFollowedOrWritten) {
    // Nobody follows the log and no file is open: the line is made when the
    // display is read, from what was true when the request came.
    testsupport::TempHome home;
    ServerLog log;
    log.clock = [] { return FixedTime; };
    const QByteArray longPath = "/" + QByteArray(ServerLog::ValueLimit + 10, 'p');
    const QStringList expected{"[14:05:09 10.0.0.7] 3: GET /a%20b.htm", "4: HEAD /x",
                               "[14:05:09 127.0.0.1] 5: GET " + logText(longPath)};
    auto logThree = [&] {
        QByteArray path = "/a%20b.htm";
        log.logRequest(ServerLog::RequestKind::Get, 3, "10.0.0.7", path);
        path[1] = 'z'; // the caller's bytes change afterwards
        log.logRequest(ServerLog::RequestKind::Head, 4, "10.0.0.9", "/x");
        log.logRequest(ServerLog::RequestKind::Get, 5, "127.0.0.1", longPath);
    };
    logThree();
    log.clock = [] { return FixedTime.addSecs(3600); };
    EXPECT_EQ(log.displayLines(), expected);

    // Followed: each line is told as it comes; with the file open it is
    // written too, the same text.
    log.clearDisplay();
    log.clock = [] { return FixedTime; };
    QStringList told;
    auto follow = QObject::connect(&log, &ServerLog::lineAdded,
                                   [&](const QString& line) { told.append(line); });
    logThree();
    EXPECT_EQ(told, expected);
    QObject::disconnect(follow);
    ASSERT_TRUE(log.setWriteToFile(true));
    logThree();
    log.closeLogFile();
    EXPECT_EQ(fileLines(platform::serverLogFilePath()).mid(1, 3), expected);
    EXPECT_EQ(log.displayLines(), expected + expected);
}

TEST(ServerLog, FileThatCannotBeOpenedOrWritten) {
    testsupport::TempHome home;
    // A folder where the file should be: it cannot be opened as a file.
    ASSERT_TRUE(QDir().mkpath(platform::serverLogFilePath()));
    ServerLog log;
    EXPECT_FALSE(log.setWriteToFile(true));
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(log.displayLines(), QStringList{"*** Unable to open log file ***"});

    // A file that takes the opening line but no more: the failure shows on
    // the display only, and the file stays open for the next line.
    ASSERT_TRUE(QDir().rmdir(platform::serverLogFilePath()));
    ServerLog limited;
    limited.clock = [] { return FixedTime; };
    limited.openLogFile();
    ASSERT_TRUE(limited.isOpen());
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = QFileInfo(platform::serverLogFilePath()).size() + 5;
    ::setrlimit(RLIMIT_FSIZE, &small);
    limited.logLine("a line longer than what the file still takes");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    const QStringList shown = limited.displayLines();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0], "a line longer than what the file still takes");
    EXPECT_TRUE(shown[1].startsWith("*** Exception")) << shown[1].toStdString();
    EXPECT_TRUE(shown[1].endsWith(" writing to log file ***")) << shown[1].toStdString();
    EXPECT_TRUE(limited.isOpen());
    limited.logLine("next");
    EXPECT_EQ(limited.displayLines().size(), 3) << "the next line reaches the file again";
}
