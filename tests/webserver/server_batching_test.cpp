// Many clients at once, served from one pass of the event loop after
// another: every answer whole and to the right client, every client's own
// time limit kept, and no connection left behind.
#include "server_fixture.h"

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace webserver;
using servertest::ServerFixture;
using testsupport::HttpReply;
using testsupport::HttpTestClient;

namespace {

class ServerBatchingTest : public ServerFixture {};

QByteArray contentsOf(int file) {
    QByteArray bytes;
    // Sizes from a few bytes to a few hundred KiB, each file its own bytes.
    const int size = 7 + (file * 7919) % (300 * 1024);
    bytes.reserve(size);
    for (int i = 0; i < size; ++i)
        bytes.append(char('a' + (i * 31 + file) % 26));
    return bytes;
}

} // namespace

TEST_F(ServerBatchingTest, ManyClientsAtOnceEachGetTheirOwnWholeAnswer) {
    constexpr int Files = 40, Threads = 8, PerThread = 60;
    std::vector<QByteArray> contents;
    for (int f = 0; f < Files; ++f) {
        contents.push_back(contentsOf(f));
        write(QStringLiteral("f%1.bin").arg(f), contents.back());
    }
    const QByteArray large = QByteArray(3 * 1024 * 1024, 'L') + "end";
    write("large.bin", large);
    start();

    std::atomic<int> wrong{0}, served{0};
    QByteArray slowBody;
    testsupport::runWithEventLoop([&] {
        // A reader that pauses takes a large file slowly meanwhile.
        std::thread slow([&] {
            HttpTestClient client(port, 30000);
            client.send("GET /large.bin HTTP/1.0\r\n\r\n");
            QByteArray raw;
            for (int piece = 0; piece < 40 && !client.sawEnd(); ++piece) {
                raw += client.readAtLeast(64 * 1024);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            raw += client.readToEnd();
            slowBody = testsupport::parseReply(raw).body;
        });
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < PerThread; ++i) {
                    const int f = (t * PerThread + i) % Files;
                    const HttpReply reply = testsupport::fetch(
                        port, "GET /f" + QByteArray::number(f) + ".bin HTTP/1.0\r\n\r\n");
                    if (reply.body != contents[f] ||
                        reply.header("Content-Length") != QByteArray::number(contents[f].size()))
                        ++wrong;
                    ++served;
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        slow.join();
    });
    EXPECT_EQ(served.load(), Threads * PerThread);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(slowBody.size(), large.size());
    EXPECT_TRUE(slowBody == large);
    EXPECT_TRUE(processUntil([&] { return server->connectionCount() == 0; }));
}

TEST_F(ServerBatchingTest, IdleClientsWhoCameAtDifferentTimesEachGetTheirOwnTime) {
    write("x.htm", "x page");
    server->setRequestTimeoutMs(600);
    start();
    qint64 firstMs = 0, secondMs = 0;
    QByteArray answered;
    testsupport::runWithEventLoop([&] {
        QElapsedTimer clock;
        clock.start();
        HttpTestClient first(port);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        HttpTestClient second(port);
        const qint64 secondCame = clock.elapsed();
        first.readToEnd();
        firstMs = clock.elapsed();
        EXPECT_TRUE(first.sawEnd());
        // The second is still open when the first is let go, and is let go
        // once its own time has passed.
        HttpTestClient third(port);
        third.send("GET /x.htm HTTP/1.0\r\n\r\n");
        answered = third.readToEnd();
        second.readToEnd();
        secondMs = clock.elapsed() - secondCame;
        EXPECT_TRUE(second.sawEnd());
    });
    EXPECT_GE(firstMs, 500);
    EXPECT_GE(secondMs, 500);
    EXPECT_LT(secondMs, 5000);
    EXPECT_TRUE(answered.endsWith("\r\n\r\nx page"));
    EXPECT_TRUE(processUntil([&] { return server->connectionCount() == 0; }));
}
