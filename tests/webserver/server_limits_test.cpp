// Clients that hold connections without using them, requests that follow
// an over-long line, odd versions and lengths: each is ended or answered
// right, and everyone else goes on being served.
#include "server_fixture.h"

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <thread>

using namespace webserver;
using servertest::ServerFixture;
using testsupport::HttpReply;
using testsupport::HttpTestClient;

namespace {

class ServerLimitsTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        write("x.htm", "x page");
        server->onClientDisconnect = [this](THttpServer&, THttpConnection&, int) { ++disconnects; };
    }
    void expectStillServing() { EXPECT_EQ(get("GET /x.htm HTTP/1.0\r\n\r\n").body, "x page"); }
    int openConnections() const {
        int open = 0;
        for (const THttpConnection* connection : server->connections())
            open += connection->isConnected() ? 1 : 0;
        return open;
    }
    int disconnects = 0;
};

} // namespace

TEST_F(ServerLimitsTest, ConnectionsWithoutACompleteRequestAreClosed) {
    server->setRequestTimeoutMs(1000);
    start();
    QByteArray silent, partial, trickled, answered;
    qint64 silentMs = 0, trickleMs = 0;
    testsupport::runWithEventLoop([&] {
        std::thread trickle([&] {
            // A byte every 100 ms for 5 s never completes a request: the
            // wait is for a whole request, not for the next byte.
            QElapsedTimer clock;
            clock.start();
            HttpTestClient client(port);
            for (int i = 0; i < 50 && client.send("X"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            trickled = client.readToEnd();
            trickleMs = clock.elapsed();
        });
        QElapsedTimer clock;
        clock.start();
        HttpTestClient quiet(port);
        silent = quiet.readToEnd();
        silentMs = clock.elapsed();
        EXPECT_TRUE(quiet.sawEnd());
        HttpTestClient half(port);
        half.send("GET /x.htm HTTP/1.0\r\nHost: localhost\r\n");
        partial = half.readToEnd();
        EXPECT_TRUE(half.sawEnd());
        // A client that asks in time is answered as usual.
        HttpTestClient prompt(port);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        prompt.send("GET /x.htm HTTP/1.0\r\n\r\n");
        answered = prompt.readToEnd();
        trickle.join();
    });
    EXPECT_TRUE(silent.isEmpty());
    EXPECT_GE(silentMs, 900);
    EXPECT_TRUE(partial.isEmpty());
    EXPECT_TRUE(trickled.isEmpty());
    EXPECT_LT(trickleMs, 4000) << "closed while still trickling";
    EXPECT_TRUE(answered.endsWith("\r\n\r\nx page"));
    EXPECT_TRUE(processUntil([&] { return server->connectionCount() == 0; }));
}

TEST_F(ServerLimitsTest, KeptAliveConnectionIsClosedWhenNoNextRequestComes) {
    server->setRequestTimeoutMs(300);
    start();
    QByteArray answer;
    testsupport::runWithEventLoop([&] {
        HttpTestClient client(port);
        client.send("GET /x.htm HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
        answer = client.readToEnd(); // the server shuts its side after the answer
    });
    EXPECT_TRUE(answer.endsWith("x page"));
    EXPECT_TRUE(processUntil([&] { return server->connectionCount() == 0; }));
}

TEST_F(ServerLimitsTest, AnswerThatIsNotReadIsDroppedASlowReaderIsNot) {
    const QByteArray big(8 * 1024 * 1024, 'z');
    write("big.bin", big);
    server->setAnswerTimeoutMs(1500);
    start();
    qint64 slowBytes = 0;
    HttpTestClient stalled(port);
    stalled.setReceiveBuffer(4096);
    testsupport::runWithEventLoop([&] {
        // A steady slow reader takes a little every 100 ms: it is never idle
        // for the whole answer time and gets everything.
        std::thread slowReader([&] {
            HttpTestClient client(port, 30000);
            client.setReceiveBuffer(64 * 1024);
            client.send("GET /big.bin HTTP/1.0\r\n\r\n");
            while (true) {
                const QByteArray piece = client.readAtLeast(1);
                if (piece.isEmpty())
                    break;
                slowBytes += piece.size();
                std::this_thread::sleep_for(
                    std::chrono::milliseconds(slowBytes < 2 * 1024 * 1024 ? 100 : 0));
            }
        });
        stalled.send("GET /big.bin HTTP/1.0\r\n\r\n");
        EXPECT_FALSE(stalled.readAtLeast(1000).isEmpty());
        slowReader.join();
    });
    EXPECT_GT(slowBytes, big.size());
    // The stalled client, still connected on its side, was dropped by the
    // server, and what was left of its answer with it.
    EXPECT_TRUE(processUntil([&] { return disconnects == 2; }));
    EXPECT_EQ(server->connectionCount(), 0);
    qsizetype rest = 0;
    testsupport::runWithEventLoop([&] { rest = stalled.readToEnd().size(); });
    EXPECT_LT(rest, big.size() - 1000);
}

TEST_F(ServerLimitsTest, ClientThatStopsReadingIsDroppedAfterOneAnswerTime) {
    // A client with its system's usual buffers: the system takes a first
    // part of the answer on its own, which is not the client reading.
    write("big.bin", QByteArray(8 * 1024 * 1024, 'z'));
    constexpr int Limit = 2000;
    server->setAnswerTimeoutMs(Limit);
    start();
    QElapsedTimer sinceRequest;
    qint64 droppedAfter = -1;
    server->onClientDisconnect = [&](THttpServer&, THttpConnection&, int) {
        droppedAfter = sinceRequest.elapsed();
    };
    HttpTestClient stalled(port);
    testsupport::runWithEventLoop([&] {
        sinceRequest.start();
        stalled.send("GET /big.bin HTTP/1.0\r\n\r\n");
        EXPECT_FALSE(stalled.readAtLeast(1000).isEmpty());
    });
    ASSERT_TRUE(processUntil([&] { return droppedAfter >= 0; }));
    EXPECT_GE(droppedAfter, Limit);
    EXPECT_LT(droppedAfter, Limit * 3 / 2) << "dropped only after a second answer time";
}

TEST_F(ServerLimitsTest, IdleConnectionsMakeRoomBusyOnesGetA503) {
    server->setMaxConnections(5);
    start();
    std::vector<std::unique_ptr<HttpTestClient>> idle;
    testsupport::runWithEventLoop([&] {
        for (int i = 0; i < 5; ++i)
            idle.push_back(std::make_unique<HttpTestClient>(port));
    });
    ASSERT_TRUE(processUntil([&] { return openConnections() == 5; }));
    // A sixth client is served; the connection idle the longest made room.
    expectStillServing();
    testsupport::runWithEventLoop([&] {
        EXPECT_TRUE(idle.front()->readToEnd().isEmpty());
        EXPECT_TRUE(idle.front()->sawEnd());
    });
    EXPECT_LE(openConnections(), 5);
    idle.clear();
    ASSERT_TRUE(processUntil([&] { return server->connectionCount() == 0; }));

    // Five clients whose answers are under way are no idle connections:
    // the next one is told the server is busy.
    write("big.bin", QByteArray(16 * 1024 * 1024, 'z'));
    std::vector<std::unique_ptr<HttpTestClient>> busy;
    HttpReply refused;
    testsupport::runWithEventLoop([&] {
        for (int i = 0; i < 5; ++i) {
            busy.push_back(std::make_unique<HttpTestClient>(port));
            busy.back()->setReceiveBuffer(4096);
            busy.back()->send("GET /big.bin HTTP/1.0\r\n\r\n");
            busy.back()->readAtLeast(100);
        }
        refused = testsupport::fetch(port, "GET /x.htm HTTP/1.0\r\n\r\n");
    });
    EXPECT_EQ(refused.statusLine, "HTTP/1.0 503 Service Unavailable");
    EXPECT_TRUE(refused.body.contains("Too many clients")) << refused.body.constData();
    EXPECT_EQ(openConnections(), 5);
    busy.clear();
    ASSERT_TRUE(processUntil([&] { return openConnections() == 0; }));
    expectStillServing();
}

TEST_F(ServerLimitsTest, RequestRightAfterAnOverlongLineIsAnswered) {
    start();
    const QByteArray overlong = QByteArray(RequestLineLimit + 100, 'a') + "\r\n";
    const QByteArray request = "GET /x.htm HTTP/1.0\r\n\r\n";
    // In one send, and in two: the line alone, then the request.
    EXPECT_EQ(get(overlong + request).body, "x page");
    HttpReply twoSends;
    testsupport::runWithEventLoop([&] {
        HttpTestClient client(port);
        client.send(overlong);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        client.send(request);
        twoSends = testsupport::parseReply(client.readToEnd());
    });
    EXPECT_EQ(twoSends.body, "x page");
}

TEST_F(ServerLimitsTest, UnknownVersionsAre400AndNeverEchoed) {
    start();
    const HttpReply injected = get("GET /x.htm HTTP/1.1\rSet-Cookie: a=b\r\n\r\n");
    EXPECT_EQ(injected.statusLine, "HTTP/1.0 400 Bad Request");
    EXPECT_FALSE(injected.raw.contains("Set-Cookie")) << injected.raw.constData();
    EXPECT_EQ(get("GET /x.htm HTTP/2.0\r\n\r\n").statusLine, "HTTP/1.0 400 Bad Request");
    EXPECT_EQ(get("HEAD /x.htm XYZ\r\n\r\n").statusLine, "HTTP/1.0 400 Bad Request");
    EXPECT_EQ(get("GET /x.htm http/1.1\r\n\r\n").statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(get("GET /x.htm\r\n\r\n").statusLine, "HTTP/1.0 200 OK");
}

TEST_F(ServerLimitsTest, RefusedRequestsGet403AndTheirBodyIsNotReset) {
    QList<QByteArray> hosts;
    server->onAdmitRequest = [&](THttpServer&, THttpConnection& c, QByteArray& explanation) {
        hosts << c.request().host;
        explanation = "Not <here>.";
        return c.request().host != "evil.example";
    };
    bool posted = false;
    server->onPostDocument = [&](THttpServer&, THttpConnection&, THttpGetFlag&) { posted = true; };
    start();
    const HttpReply refused = get("GET /x.htm HTTP/1.0\r\nHost: evil.example\r\n\r\n");
    EXPECT_EQ(refused.statusLine, "HTTP/1.0 403 Forbidden");
    EXPECT_TRUE(refused.body.contains("</H1>Not &lt;here&gt;.<P>")) << refused.body.constData();
    // A refused post's body still on its way does not turn the answer into
    // a reset.
    const QByteArray body(512 * 1024, 'b');
    const HttpReply post = get("POST /f HTTP/1.0\r\nHost: evil.example\r\nContent-Length: " +
                               QByteArray::number(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(post.statusLine, "HTTP/1.0 403 Forbidden");
    EXPECT_FALSE(posted);
    EXPECT_EQ(get("GET /x.htm HTTP/1.0\r\nHost: good\r\n\r\n").body, "x page");
    EXPECT_EQ(hosts, (QList<QByteArray>{"evil.example", "evil.example", "good"}));
}
