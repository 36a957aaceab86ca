#include "server_fixture.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QTimeZone>

#include <atomic>
#include <chrono>
#include <thread>

using namespace webserver;
using servertest::ServerFixture;
using testsupport::HttpReply;
using testsupport::HttpTestClient;

namespace {

class HttpServerTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        write("viewer.htm", "<p>root viewer</p>");
        write("sub/viewer.htm", "<p>sub viewer</p>");
        write("a b.htm", "space");
        write("a+b.htm", "plus");
        write("100%41.htm", "percent");
        write("x.htm", "x page");
    }
};

} // namespace

TEST_F(HttpServerTest, DefaultDocumentsFoldersAndDecoding) {
    start();
    EXPECT_EQ(get("GET / HTTP/1.1\r\n\r\n").body, "<p>root viewer</p>");
    EXPECT_EQ(get("GET /sub/ HTTP/1.1\r\n\r\n").body, "<p>sub viewer</p>");
    EXPECT_EQ(get("GET /sub HTTP/1.1\r\n\r\n").statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(get("GET /a%20b.htm HTTP/1.0\r\n\r\n").body, "space");
    EXPECT_EQ(get("GET /a+b.htm HTTP/1.0\r\n\r\n").body, "plus");
    EXPECT_EQ(get("GET /100%2541.htm HTTP/1.0\r\n\r\n").body, "percent");
}

TEST_F(HttpServerTest, QueryTextIsKeptApartFromThePath) {
    QByteArray seenPath, seenParams;
    server->onGetDocument = [&](THttpServer&, THttpConnection& c, THttpGetFlag&) {
        seenPath = c.path();
        seenParams = c.params();
    };
    start();
    EXPECT_EQ(get("GET /x.htm?foo HTTP/1.0\r\n\r\n").body, "x page");
    EXPECT_EQ(seenPath, "/x.htm");
    EXPECT_EQ(seenParams, "foo");
    const HttpReply missing = get("GET /none.htm?foo HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(missing.body.contains("The requested URL /none.htm was not found"));
    EXPECT_FALSE(missing.body.contains("foo"));
}

TEST_F(HttpServerTest, MethodsAndVersions) {
    start();
    const HttpReply lower = get("get /x.htm HTTP/1.1\r\n\r\n");
    EXPECT_EQ(lower.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(lower.body, "x page");
    EXPECT_EQ(get("GET /x.htm\r\n\r\n").statusLine, "HTTP/1.0 200 OK");

    // PUT: the whole 404 answer, then the server closes (readToEnd returns).
    const HttpReply put = get("PUT /x.htm HTTP/1.0\r\n\r\n");
    EXPECT_EQ(put.statusLine, "HTTP/1.0 404 Not Found");
    EXPECT_EQ(put.header("Content-Length").toInt(), put.body.size());
    EXPECT_TRUE(put.body.endsWith("</HTML>\r\n"));

    // A request line without a target is answered as missing.
    EXPECT_EQ(get("GET\r\n\r\n").statusLine, "HTTP/1.0 404 Not Found");
}

TEST_F(HttpServerTest, HeadOfPresentAndMissingFiles) {
    start();
    const HttpReply full = get("GET /x.htm HTTP/1.0\r\n\r\n");
    const HttpReply head = get("HEAD /x.htm HTTP/1.0\r\n\r\n");
    EXPECT_EQ(head.statusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(head.headerLines, full.headerLines);
    EXPECT_EQ(head.header("Content-Length"), "6");
    EXPECT_TRUE(head.complete);
    EXPECT_TRUE(head.body.isEmpty());

    const HttpReply missing = get("HEAD /none.htm HTTP/1.0\r\n\r\n");
    EXPECT_EQ(missing.statusLine, "HTTP/1.0 404 Not Found");
    EXPECT_TRUE(missing.body.startsWith("<HTML><HEAD><TITLE>404 Not Found"));
    EXPECT_EQ(missing.header("Content-Length").toInt(), missing.body.size());
}

TEST_F(HttpServerTest, FileSizesAroundTheChunk) {
    QByteArray big;
    for (int i = 0; big.size() < 300000; ++i)
        big += QByteArray::number(i) + ',';
    write("empty.txt", "");
    write("one.txt", QByteArray(1460, 'c'));
    write("one-more.txt", QByteArray(1461, 'd'));
    write("big.txt", big);
    start();
    const HttpReply empty = get("GET /empty.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(empty.statusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(empty.header("Content-Length"), "0");
    EXPECT_TRUE(empty.complete);
    EXPECT_TRUE(empty.body.isEmpty());
    EXPECT_EQ(get("GET /one.txt HTTP/1.0\r\n\r\n").body, QByteArray(1460, 'c'));
    EXPECT_EQ(get("GET /one-more.txt HTTP/1.0\r\n\r\n").body, QByteArray(1461, 'd'));
    const HttpReply large = get("GET /big.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(large.header("Content-Length").toLongLong(), big.size());
    EXPECT_TRUE(large.body == big);
}

TEST_F(HttpServerTest, KeepAliveLeavesTheConnectionOpen) {
    int gets = 0, disconnects = 0;
    server->onGetDocument = [&](THttpServer&, THttpConnection&, THttpGetFlag&) { ++gets; };
    server->onClientDisconnect = [&](THttpServer&, THttpConnection&, int) { ++disconnects; };
    start();

    // Any value but keep-alive closes after the answer.
    for (const QByteArray& header : {QByteArray(""), QByteArray("Connection: close\r\n"),
                                     QByteArray("Connection: keep-alive2\r\n")}) {
        const int before = disconnects;
        const HttpReply reply = get("GET /x.htm HTTP/1.1\r\n" + header + "\r\n");
        EXPECT_EQ(reply.body, "x page");
        EXPECT_TRUE(processUntil([&] { return disconnects == before + 1; })) << header.constData();
    }
    EXPECT_EQ(server->connectionCount(), 0);

    // keep-alive in any case: the answer ends with the sending direction shut
    // down, but the server still reads; the next request is parsed and its
    // answer cannot be written, which ends the connection.
    auto client = std::make_unique<HttpTestClient>(port);
    QByteArray first;
    testsupport::runWithEventLoop([&] {
        client->send("GET /x.htm HTTP/1.1\r\nConnection: KEEP-alive\r\n\r\n");
        first = client->readToEnd();
    });
    EXPECT_TRUE(first.endsWith("x page"));
    const int getsBefore = gets, disconnectsBefore = disconnects;
    EXPECT_EQ(server->connectionCount(), 1);
    testsupport::runWithEventLoop([&] { client->send("GET /x.htm HTTP/1.1\r\n\r\n"); });
    EXPECT_TRUE(processUntil([&] { return gets == getsBefore + 1; }));
    EXPECT_TRUE(processUntil([&] { return disconnects == disconnectsBefore + 1; }));
    EXPECT_EQ(server->connectionCount(), 0);
}

TEST_F(HttpServerTest, HeaderValuesReachTheHandler) {
    QList<qint32> lengths;
    QList<QByteArray> lines;
    server->onGetDocument = [&](THttpServer&, THttpConnection& c, THttpGetFlag&) {
        lengths << c.contentLength();
        lines = c.headerLines();
    };
    start();
    get("GET /x.htm HTTP/1.0\r\nContent-Length: abc\r\n\r\n");
    get("GET /x.htm HTTP/1.0\r\nCONTENT-LENGTH:   12\r\nno colon line\r\n\r\n");
    EXPECT_EQ(lengths, (QList<qint32>{0, 12}));
    EXPECT_EQ(lines, (QList<QByteArray>{"CONTENT-LENGTH:   12", "no colon line"}));
}

TEST_F(HttpServerTest, ContentTypesAndLastModified) {
    write("p.JPG", "j");
    write("p.png", "p");
    write("noext", "n");
    write("d.txt", "t");
    QFile dated(docDir + "/d.txt");
    ASSERT_TRUE(dated.open(QIODevice::ReadWrite));
    ASSERT_TRUE(dated.setFileTime(QDateTime(QDate(2003, 1, 6), QTime(10, 20, 30), QTimeZone::utc()),
                                  QFileDevice::FileModificationTime));
    dated.close();
    start();
    EXPECT_EQ(get("GET /p.JPG HTTP/1.0\r\n\r\n").header("Content-Type"), "image/jpeg");
    EXPECT_EQ(get("GET /p.png HTTP/1.0\r\n\r\n").header("Content-Type"), "application/binary");
    EXPECT_EQ(get("GET /noext HTTP/1.0\r\n\r\n").header("Content-Type"), "application/binary");
    const HttpReply text = get("GET /d.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(text.header("Content-Type"), "text/plain");
    EXPECT_TRUE(text.headerLines.contains("Last-Modified: Mon, 06 Jan 2003 10:20:30 GMT"));
    EXPECT_FALSE(text.hasHeader("Date"));
    EXPECT_FALSE(text.hasHeader("Server"));
    EXPECT_FALSE(text.hasHeader("Connection"));
}

TEST_F(HttpServerTest, TenClientsAtOnce) {
    std::atomic<int> connects{0};
    int peak = 0;
    server->onClientConnect = [&](THttpServer& s, THttpConnection&, int) {
        ++connects;
        peak = std::max(peak, s.connectionCount());
    };
    start();
    std::atomic<int> served{0};
    testsupport::runWithEventLoop([&] {
        std::vector<std::unique_ptr<HttpTestClient>> clients;
        for (int i = 0; i < 10; ++i)
            clients.push_back(std::make_unique<HttpTestClient>(port));
        // Every client is taken by the server before any of them asks.
        const QDeadlineTimer taken(10000);
        while (connects < 10 && !taken.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (auto& client : clients)
            client->send("GET /x.htm HTTP/1.0\r\n\r\n");
        for (auto& client : clients) {
            if (testsupport::parseReply(client->readToEnd()).body == "x page")
                ++served;
        }
    });
    EXPECT_EQ(served, 10);
    EXPECT_EQ(connects, 10);
    EXPECT_EQ(peak, 10);
}

TEST_F(HttpServerTest, HandlerFlagsAndErrors) {
    server->onGetDocument = [](THttpServer&, THttpConnection& c, THttpGetFlag& flags) {
        if (c.path() == "/boom")
            throw std::runtime_error("handler failed");
        if (c.path() == "/stream") {
            auto buffer = std::make_unique<QBuffer>();
            buffer->setData("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nmade");
            buffer->open(QIODevice::ReadOnly);
            c.setResponseStream(std::move(buffer));
            flags = gfSendStream;
        }
        if (c.path() == "/hidden")
            flags = gfNotFound;
    };
    start();
    const HttpReply boom = get("GET /boom HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(boom.raw.isEmpty()) << "an error aborts that connection without an answer";
    EXPECT_EQ(get("GET /stream HTTP/1.0\r\n\r\n").body, "made");
    EXPECT_EQ(get("GET /x.htm HTTP/1.0\r\n\r\n").statusLine, "HTTP/1.0 200 OK");
    write("hidden", "h");
    EXPECT_EQ(get("GET /hidden HTTP/1.0\r\n\r\n").statusLine, "HTTP/1.0 404 Not Found");
}

TEST_F(HttpServerTest, PostedBodiesReachTheHandler) {
    QByteArray body;
    int postedCalls = 0;
    server->onPostDocument = [&](THttpServer&, THttpConnection& c, THttpGetFlag& flags) {
        if (c.path().compare("/cgi-bin/form.exe", Qt::CaseInsensitive) == 0) {
            flags = gfAcceptBody;
            c.setLineMode(false);
            body.clear();
        }
    };
    server->onPostedData = [&](THttpServer&, THttpConnection& c, int) {
        ++postedCalls;
        char buffer[300];
        const qint64 n =
            c.receiveRaw(buffer, std::min<qint64>(sizeof buffer, c.contentLength() - body.size()));
        if (n > 0)
            body.append(buffer, n);
        if (body.size() == c.contentLength()) {
            const QByteArray page = "got " + body;
            auto stream = std::make_unique<QBuffer>();
            stream->setData(c.version() + " 200 OK\r\nContent-Length: " +
                            QByteArray::number(page.size()) + "\r\n\r\n" + page);
            stream->open(QIODevice::ReadOnly);
            c.setResponseStream(std::move(stream));
            c.sendResponseStream();
        }
    };
    start();
    // Body in the same packet as the header.
    EXPECT_EQ(get("POST /cgi-bin/FORM.exe HTTP/1.0\r\nContent-Length: 7\r\n\r\na=1&b=2").body,
              "got a=1&b=2");
    // A blank after the length: the handler is told the same length that
    // the body check let through.
    EXPECT_EQ(get("POST /cgi-bin/form.exe HTTP/1.0\r\nContent-Length: 5 \r\n\r\nhello").body,
              "got hello");
    // Body larger than one read of the handler, sent after the header.
    const QByteArray large(1000, 'q');
    HttpReply reply;
    testsupport::runWithEventLoop([&] {
        HttpTestClient client(port);
        client.send("POST /cgi-bin/form.exe HTTP/1.0\r\nContent-Length: 1000\r\n\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        client.send(large);
        reply = testsupport::parseReply(client.readToEnd());
    });
    EXPECT_EQ(reply.body, "got " + large);
    // An empty form is complete at once.
    postedCalls = 0;
    EXPECT_EQ(get("POST /cgi-bin/form.exe HTTP/1.0\r\nContent-Length: 0\r\n\r\n").body, "got ");
    EXPECT_EQ(postedCalls, 1);
    // Refused lengths and other paths.
    EXPECT_EQ(get("POST /cgi-bin/form.exe HTTP/1.0\r\n\r\nabc").statusLine,
              "HTTP/1.0 411 Length Required");
    EXPECT_EQ(get("POST /cgi-bin/form.exe HTTP/1.0\r\nContent-Length: -1\r\n\r\n").statusLine,
              "HTTP/1.0 400 Bad Request");
    EXPECT_EQ(
        get("POST /cgi-bin/form.exe HTTP/1.0\r\nContent-Length: 4294967296\r\n\r\n").statusLine,
        "HTTP/1.0 413 Payload Too Large");
    EXPECT_EQ(get("POST /cgi-bin/other.exe HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc").statusLine,
              "HTTP/1.0 404 Not Found");
}

TEST_F(HttpServerTest, EachClientFindsItsConnectionAsNew) {
    // The server keeps the record of a client that is gone for the next
    // one: nothing of an earlier client's state may reach a later client.
    int disconnects = 0;
    QStringList seen;
    server->onClientDisconnect = [&](THttpServer&, THttpConnection&, int) { ++disconnects; };
    server->onGetDocument = [&](THttpServer&, THttpConnection& c, THttpGetFlag&) {
        seen.append(QStringLiteral("%1 %2 %3 %4")
                        .arg(c.document(), QString::number(c.lineMode()),
                             QString::number(c.bodyAccepted()), QString::number(c.isBusy())));
    };
    server->onPostDocument = [&](THttpServer&, THttpConnection& c, THttpGetFlag& flags) {
        flags = gfAcceptBody;
        c.setLineMode(false);
    };
    server->onPostedData = [](THttpServer&, THttpConnection&, int) {}; // takes nothing
    start();
    const HttpReply first = get("GET /x.htm HTTP/1.0\r\n\r\n");
    ASSERT_EQ(first.body, "x page");
    const HttpReply firstHead = get("HEAD /x.htm HTTP/1.1\r\n\r\n");
    const HttpReply firstMissing = get("GET /none.htm HTTP/1.1\r\n\r\n");

    auto leave = [&](const QByteArray& request, bool readAnswer) {
        const int before = disconnects;
        testsupport::runWithEventLoop([&] {
            HttpTestClient client(port);
            client.send(request);
            if (readAnswer)
                client.readAtLeast(1);
        });
        EXPECT_TRUE(processUntil([&] { return disconnects == before + 1; }))
            << request.constData();
    };
    for (int round = 0; round < 3; ++round) {
        leave("POST /form HTTP/1.0\r\nContent-Length: 100\r\n\r\nhalf a bo", false);
        leave("GET /x.htm HTTP/1.1\r\nConnection: keep-alive\r\n\r\n", true);
        leave("GET / HTTP/2.0\r\n\r\n", true); // refused 400, read and dropped until close
        leave("GET /x.htm HTTP/1.0\r\nHost: local", false);
        leave("GET /sub/ HTTP/1.0\r\n\r\n", true);
        EXPECT_EQ(get("GET /x.htm HTTP/1.0\r\n\r\n").raw, first.raw) << round;
        EXPECT_EQ(get("HEAD /x.htm HTTP/1.1\r\n\r\n").raw, firstHead.raw) << round;
        EXPECT_EQ(get("GET /none.htm HTTP/1.1\r\n\r\n").raw, firstMissing.raw) << round;
    }
    EXPECT_EQ(seen.first(), docDir + "/x.htm 1 0 1");
    EXPECT_EQ(seen.count(seen.first()), 1 + 3 * 2);
    EXPECT_EQ(seen.count(docDir + "/sub/viewer.htm 1 0 1"), 3);
    EXPECT_TRUE(processUntil([&] { return server->connectionCount() == 0; }));
}

TEST_F(HttpServerTest, StartStopAndPortErrors) {
    int started = 0, stopped = 0;
    server->onServerStarted = [&](THttpServer&) { ++started; };
    server->onServerStopped = [&](THttpServer&) { ++stopped; };
    start();
    EXPECT_EQ(started, 1);
    server->startServer(); // already listening: nothing happens
    EXPECT_EQ(started, 1);

    THttpServer other;
    other.setAddr("127.0.0.1");
    other.setPort(QString::number(port));
    EXPECT_THROW(other.startServer(), ServerError);
    EXPECT_FALSE(other.isListening());
    other.setPort("no-such-service-name");
    try {
        other.startServer();
        ADD_FAILURE() << "started on an unknown service";
    } catch (const ServerError& error) {
        EXPECT_TRUE(QString(error.what()).startsWith("ResolvePort: Cannot convert port"));
    }

    // An open client is aborted by the stop and reported as disconnected.
    int disconnects = 0;
    server->onClientDisconnect = [&](THttpServer&, THttpConnection&, int) { ++disconnects; };
    HttpTestClient client(port);
    ASSERT_TRUE(processUntil([&] { return server->connectionCount() == 1; }));
    server->stopServer();
    EXPECT_EQ(stopped, 1);
    EXPECT_FALSE(server->isListening());
    EXPECT_TRUE(processUntil([&] { return disconnects == 1; }));
    EXPECT_EQ(server->connectionCount(), 0);
}
