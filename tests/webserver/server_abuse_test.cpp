// Hostile and broken clients: each gets a right answer or a closed
// connection, and the server keeps serving everyone else.
#include "server_fixture.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/stat.h>

using namespace webserver;
using servertest::ServerFixture;
using testsupport::HttpReply;
using testsupport::HttpTestClient;

namespace {

class ServerAbuseTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        write("x.htm", "x page");
        QFile secret(root.path() + "/secret.txt");
        ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
        secret.write("TOP SECRET");
        secret.close();
        server->onClientDisconnect = [this](THttpServer&, THttpConnection&, int) { ++disconnects; };
    }
    // The server still answers a plain request.
    void expectStillServing() { EXPECT_EQ(get("GET /x.htm HTTP/1.0\r\n\r\n").body, "x page"); }
    int disconnects = 0;
};

} // namespace

TEST_F(ServerAbuseTest, PathsOutOfTheFolderAre404) {
    ASSERT_TRUE(QFile::link(root.path() + "/secret.txt", docDir + "/link.txt"));
    start();
    for (const QByteArray& path :
         {QByteArray("/../secret.txt"), QByteArray("/%2e%2e/secret.txt"),
          QByteArray("/%2E%2E%2Fsecret.txt"), QByteArray("/..\\secret.txt"),
          QByteArray("/..%5csecret.txt"), QByteArray("/link.txt"), QByteArray("/x.htm%00"),
          QByteArray("../secret.txt")}) {
        const HttpReply reply = get("GET " + path + " HTTP/1.0\r\n\r\n");
        EXPECT_EQ(reply.statusLine, "HTTP/1.0 404 Not Found") << path.constData();
        EXPECT_FALSE(reply.raw.contains("TOP SECRET")) << path.constData();
        const HttpReply head = get("HEAD " + path + " HTTP/1.0\r\n\r\n");
        EXPECT_EQ(head.statusLine, "HTTP/1.0 404 Not Found") << path.constData();
    }
    // A named pipe is no file to serve and must not stall the server.
    ASSERT_EQ(::mkfifo(QFile::encodeName(docDir + "/pipe").constData(), 0644), 0);
    EXPECT_EQ(get("GET /pipe HTTP/1.0\r\n\r\n").statusLine, "HTTP/1.0 404 Not Found");

    // The echoed path is HTML-escaped.
    const HttpReply echoed = get("GET /<img%20src=x>.htm HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(echoed.body.contains("/&lt;img%20src=x&gt;.htm"));
    EXPECT_FALSE(echoed.body.contains("<img"));
}

TEST_F(ServerAbuseTest, OverlongRequestLineAndManyHeaderLines) {
    start();
    // A 100 KiB request line is dropped; what follows gets a 404 or a close.
    const HttpReply longLine =
        get("GET /" + QByteArray(100 * 1024, 'a') + " HTTP/1.0\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(longLine.raw.isEmpty() || longLine.statusLine.endsWith("404 Not Found"))
        << longLine.statusLine.constData();
    EXPECT_LT(longLine.raw.size(), 4096);
    expectStillServing();

    // 10,000 short header lines stay within the limit and are served.
    QByteArray many = "GET /x.htm HTTP/1.0\r\n";
    for (int i = 0; i < 10000; ++i)
        many += "X-Filler-" + QByteArray::number(i) + ": value\r\n";
    EXPECT_EQ(get(many + "\r\n").body, "x page");

    // Header lines beyond 1 MiB close the connection without an answer.
    QByteArray endless;
    const QByteArray line = "X-Big: " + QByteArray(1000, 'b') + "\r\n";
    HttpReply reply;
    testsupport::runWithEventLoop([&] {
        HttpTestClient client(port);
        client.send("GET /x.htm HTTP/1.0\r\n");
        for (int i = 0; i < 3000 && client.send(line); ++i) {
        }
        client.send("\r\n");
        reply = testsupport::parseReply(client.readToEnd());
    });
    EXPECT_TRUE(reply.raw.isEmpty()) << reply.statusLine.constData();
    expectStillServing();
}

TEST_F(ServerAbuseTest, OddContentLengths) {
    server->onPostDocument = [](THttpServer&, THttpConnection& c, THttpGetFlag& flags) {
        flags = gfAcceptBody;
        c.setLineMode(false);
    };
    server->onPostedData = [](THttpServer&, THttpConnection& c, int) {
        char buffer[256];
        c.receiveRaw(buffer, sizeof buffer);
    };
    start();
    EXPECT_EQ(get("POST /f HTTP/1.0\r\nContent-Length: -1\r\n\r\n").statusLine,
              "HTTP/1.0 400 Bad Request");
    EXPECT_EQ(get("POST /f HTTP/1.0\r\nContent-Length: 4294967296\r\n\r\n").statusLine,
              "HTTP/1.0 413 Payload Too Large");
    EXPECT_EQ(get("POST /f HTTP/1.0\r\nContent-Length: 67108865\r\n\r\n").statusLine,
              "HTTP/1.0 413 Payload Too Large");
    EXPECT_EQ(get("POST /f HTTP/1.0\r\nContent-Length: 12abc\r\n\r\n").statusLine,
              "HTTP/1.0 400 Bad Request");
    // On GET the length is only recorded; the file is served.
    EXPECT_EQ(get("GET /x.htm HTTP/1.0\r\nContent-Length: -1\r\n\r\n").body, "x page");
    EXPECT_EQ(get("GET /x.htm HTTP/1.0\r\nContent-Length: 4294967296\r\n\r\n").body, "x page");
}

TEST_F(ServerAbuseTest, SlowClientDoesNotHoldUpOthers) {
    start();
    std::atomic<int> servedMeanwhile{0};
    QByteArray slowAnswer;
    testsupport::runWithEventLoop([&] {
        std::thread slow([&] {
            HttpTestClient client(port);
            // One byte a second for three seconds, then the rest at once.
            const QByteArray request = "GET /x.htm HTTP/1.0\r\n\r\n";
            for (int i = 0; i < 3; ++i) {
                client.send(request.mid(i, 1));
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
            client.send(request.mid(3));
            slowAnswer = client.readToEnd();
        });
        for (int i = 0; i < 20; ++i) {
            if (testsupport::fetch(port, "GET /x.htm HTTP/1.0\r\n\r\n").body == "x page")
                ++servedMeanwhile;
        }
        slow.join();
    });
    EXPECT_EQ(servedMeanwhile, 20);
    EXPECT_TRUE(slowAnswer.endsWith("\r\n\r\nx page"));
}

TEST_F(ServerAbuseTest, FiveHundredConnectionsAtOnce) {
    start();
    std::atomic<int> served{0};
    testsupport::runWithEventLoop([&] {
        std::vector<std::unique_ptr<HttpTestClient>> clients;
        for (int i = 0; i < 500; ++i)
            clients.push_back(std::make_unique<HttpTestClient>(port));
        for (auto& client : clients)
            client->send("GET /x.htm HTTP/1.0\r\n\r\n");
        for (auto& client : clients) {
            if (testsupport::parseReply(client->readToEnd()).body == "x page")
                ++served;
        }
    });
    EXPECT_EQ(served, 500);
    EXPECT_TRUE(processUntil([&] { return server->connectionCount() == 0; }));
    EXPECT_EQ(disconnects, 500);
}

TEST_F(ServerAbuseTest, ClientVanishingMidAnswer) {
    write("big.bin", QByteArray(16 * 1024 * 1024, 'z'));
    start();
    testsupport::runWithEventLoop([&] {
        HttpTestClient client(port);
        client.setReceiveBuffer(4096);
        client.send("GET /big.bin HTTP/1.0\r\n\r\n");
        client.readAtLeast(100000);
        client.abort();
    });
    EXPECT_TRUE(processUntil([&] { return disconnects == 1; }));
    EXPECT_EQ(server->connectionCount(), 0);
    expectStillServing();

    // A client that closes its sending side right after asking still gets
    // the whole answer of a file larger than the socket buffers.
    QByteArray answer;
    testsupport::runWithEventLoop([&] {
        HttpTestClient client(port);
        client.send("GET /big.bin HTTP/1.0\r\n\r\n");
        client.shutdownSending();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        answer = client.readToEnd();
    });
    const HttpReply reply = testsupport::parseReply(answer);
    EXPECT_EQ(reply.statusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(reply.body.size(), 16 * 1024 * 1024);
}
