#include "catalogue/encodings.h"
#include "platform/paths.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"
#include "webserver/edit_post_handler.h"
#include "webserver/web_server_controller.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using namespace webserver;
using testsupport::HttpReply;

namespace {

class EditPostTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ensureCoreApplication();
        home.write("Favorites/Links/Weather.url", "[InternetShortcut]\r\nURL=http://w/\r\n");
        QDir().mkpath(home.path() + "/doc");
        controller = std::make_unique<WebServerController>(nullptr, home.path() + "/server.log");
        handler = std::make_unique<EditPostHandler>(*controller, home.favorites(),
                                                    [this](const QString&) { ++marks; });
        controller->server().setAddr("127.0.0.1");
        ASSERT_TRUE(controller->start("0", home.path() + "/doc"));
        port = controller->server().listeningPort();
        ASSERT_NE(port, 0);
    }
    void TearDown() override {
        handler.reset();
        controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    HttpReply post(const QByteArray& path, const QByteArray& body,
                   const QByteArray& extraHeaders = {}) {
        const QByteArray request =
            "POST " + path + " HTTP/1.1\r\nHost: localhost:" + QByteArray::number(port) + "\r\n" +
            extraHeaders + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        HttpReply reply;
        testsupport::runWithEventLoop([&] { reply = testsupport::fetch(port, request); });
        return reply;
    }
    QByteArray renameBody() const {
        return "Edit" + catalogue::HexEncode((home.favorites() + "/Links/Weather.url").toUtf8()) +
               "=Forecast";
    }
    bool exists(const QString& relative) const {
        return QFileInfo::exists(home.favorites() + "/" + relative);
    }

    testsupport::TempHome home;
    std::unique_ptr<WebServerController> controller;
    std::unique_ptr<EditPostHandler> handler;
    quint16 port = 0;
    int marks = 0;
};

} // namespace

TEST_F(EditPostTest, EditFormAppliedAndAnswered) {
    const QByteArray origin = "Origin: http://127.0.0.1:" + QByteArray::number(port) + "\r\n";
    const QByteArray sortField =
        "OB" + catalogue::HexEncode((home.favorites() + "/Links/Weather.url").toUtf8()) +
        "=%3Ci%3E";
    const QByteArray body = sortField + "&" + renameBody();
    const HttpReply reply = post("/cgi-bin/CgiFrm1.exe", body, origin);
    ASSERT_TRUE(reply.complete);
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(reply.header("Content-Length").toInt(), reply.body.size());
    EXPECT_TRUE(reply.body.contains(
        "there were 2 results from127.0.0.1<br>Action taken : "
        "Favourite Weather.url sort order is Invalid. &lt;i&gt; is not a number<br>\r\n"
        "Renamed Favourite Weather to Forecast<br>\r\n</P>"))
        << reply.body.constData();
    EXPECT_TRUE(exists("Links/Forecast.URL"));
    EXPECT_FALSE(exists("Links/Weather.url"));
    EXPECT_TRUE(controller->log().displayLines().contains(
        QStringLiteral("Data: '%1'").arg(QString::fromLatin1(body))));
    EXPECT_TRUE(QFileInfo(platform::formCopyFilePath()).size() > 0);
}

TEST_F(EditPostTest, ForeignOriginOrRefererIsRefused) {
    for (const QByteArray& header :
         {QByteArray("Origin: http://evil.example\r\n"),
          QByteArray("Referer: http://evil.example:" + QByteArray::number(port) + "/x\r\n"),
          QByteArray("Origin: http://localhost:1\r\n")}) {
        const HttpReply reply = post("/cgi-bin/cgifrm1.exe", renameBody(), header);
        EXPECT_TRUE(reply.statusLine.startsWith("HTTP/1.1 403")) << reply.raw.constData();
    }
    EXPECT_TRUE(exists("Links/Weather.url"));
    EXPECT_FALSE(exists("Links/Forecast.URL"));
    EXPECT_FALSE(QFileInfo::exists(platform::formRecordsFilePath()));
    EXPECT_FALSE(QFileInfo::exists(platform::formCopyFilePath()));
}

TEST_F(EditPostTest, EmptyFormOtherPathsAndSplitBodies) {
    const HttpReply empty = post("/cgi-bin/cgifrm2.exe", "");
    EXPECT_EQ(empty.statusLine, "HTTP/1.1 200 OK");
    EXPECT_TRUE(empty.body.contains("there were 0 results from127.0.0.1<br>Action taken : </P>"));

    EXPECT_TRUE(post("/cgi-bin/other.exe", "a=1").statusLine.startsWith("HTTP/1.1 404"));

    // A body that arrives in two pieces, with bytes beyond its length.
    const QByteArray body = renameBody();
    HttpReply reply;
    testsupport::runWithEventLoop([&] {
        testsupport::HttpTestClient client(port);
        client.send("POST /cgi-bin/cgifrm1.exe HTTP/1.0\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\n\r\n" + body.left(10));
        QThread::msleep(50);
        client.send(body.mid(10) + "&CBjunk=deleteme");
        reply = testsupport::parseReply(client.readToEnd());
    });
    EXPECT_EQ(reply.statusLine, "HTTP/1.0 200 OK");
    EXPECT_TRUE(reply.body.contains("there were 1 results from"));
    EXPECT_TRUE(exists("Links/Forecast.URL"));
}

TEST_F(EditPostTest, HugeBodiesAndBadIdentitiesCostOneShortLineEach) {
    // An 8 MiB body is logged as its first few KiB and its length.
    const QByteArray huge = "x=" + QByteArray(8 * 1024 * 1024 - 2, 'y');
    const HttpReply reply = post("/cgi-bin/cgifrm1.exe", huge);
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK");
    const QStringList data = controller->log().displayLines().filter(QStringLiteral("Data: '"));
    ASSERT_EQ(data.size(), 1);
    EXPECT_EQ(data[0],
              "Data: 'x=" + QString(ServerLog::ValueLimit - 2, 'y') + "... (8388608 bytes)'");

    // Identities that are not hexadecimal are refused, one line each, and
    // the valid field after them is still applied.
    const QByteArray body = "EditZZ=a&Edit4G=b&Edit%41=c&" + renameBody();
    const HttpReply mixed = post("/cgi-bin/cgifrm1.exe", body);
    EXPECT_EQ(mixed.body.count("not a favourite's identity"), 3) << mixed.body.constData();
    EXPECT_TRUE(exists("Links/Forecast.URL"));
}
