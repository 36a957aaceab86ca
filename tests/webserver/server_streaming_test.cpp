// Files streamed in large reads arrive byte for byte, to fast and slow
// readers, and clients that come back as fast as they are served never keep
// the server from closing the connections it has answered.
#include "server_fixture.h"
#include "webserver/http_connection.h"

#include <algorithm>
#include <memory>
#include <vector>

using servertest::ServerFixture;
using testsupport::HttpReply;
using testsupport::HttpTestClient;

namespace {

class ServerStreamingTest : public ServerFixture {};

QByteArray numbered(qsizetype size) {
    QByteArray bytes;
    bytes.reserve(size + 16);
    for (int i = 0; bytes.size() < size; ++i)
        bytes += QByteArray::number(i) + ',';
    bytes.truncate(size);
    return bytes;
}

} // namespace

TEST_F(ServerStreamingTest, SizesAroundTheReadArriveWhole) {
    const qsizetype read = webserver::THttpConnection::ChunkSize;
    const qsizetype sizes[] = {0, 1, read - 1, read, read + 1, 3 * read + 17};
    for (const qsizetype size : sizes)
        write(QStringLiteral("f%1.txt").arg(size), numbered(size));
    start();
    for (const qsizetype size : sizes) {
        const QByteArray path = "/f" + QByteArray::number(size) + ".txt";
        const HttpReply reply = get("GET " + path + " HTTP/1.0\r\n\r\n");
        EXPECT_EQ(reply.header("Content-Length").toLongLong(), size);
        EXPECT_TRUE(reply.body == numbered(size)) << size;
        const HttpReply head = get("HEAD " + path + " HTTP/1.0\r\n\r\n");
        EXPECT_EQ(head.header("Content-Length").toLongLong(), size);
        EXPECT_TRUE(head.body.isEmpty());
    }
}

TEST_F(ServerStreamingTest, ReadersThatWaitGetEveryByte) {
    // Larger than the socket buffers: each answer stops until its reader,
    // one after the other, takes what was sent.
    const QByteArray big = numbered(24 * 1024 * 1024 + 3);
    write("big.txt", big);
    start();
    std::vector<QByteArray> answers(3);
    testsupport::runWithEventLoop([&] {
        std::vector<std::unique_ptr<HttpTestClient>> clients;
        for (std::size_t i = 0; i < answers.size(); ++i) {
            clients.push_back(std::make_unique<HttpTestClient>(port));
            clients.back()->send("GET /big.txt HTTP/1.0\r\n\r\n");
        }
        for (std::size_t i = 0; i < answers.size(); ++i)
            answers[i] = clients[i]->readToEnd();
    });
    for (const QByteArray& answer : answers) {
        const HttpReply reply = testsupport::parseReply(answer);
        EXPECT_EQ(reply.statusLine, "HTTP/1.0 200 OK");
        EXPECT_TRUE(reply.body == big) << reply.body.size();
    }
}

TEST_F(ServerStreamingTest, WaitingClientsAreTakenABatchAtATime) {
    write("x.htm", "x page");
    start();
    // Clients waiting all at once, as when they come back as fast as they
    // are served: one pass of the event loop must not take them all, or the
    // connections already answered wait for their close as long as more come.
    // Those it answered are closed within the same pass.
    constexpr int Waiting = 300;
    std::vector<std::unique_ptr<HttpTestClient>> clients;
    for (int i = 0; i < Waiting; ++i) {
        clients.push_back(std::make_unique<HttpTestClient>(port));
        ASSERT_TRUE(clients.back()->send("GET /x.htm HTTP/1.0\r\n\r\n"));
    }
    QCoreApplication::processEvents();
    const auto answered = std::count_if(clients.begin(), clients.end(), [](const auto& client) {
        return client->hasBytesWaiting();
    });
    EXPECT_GT(answered, 0);
    EXPECT_LT(answered, Waiting);
    EXPECT_EQ(server->connectionCount(), 0);

    int served = 0;
    testsupport::runWithEventLoop([&] {
        for (auto& client : clients)
            served += testsupport::parseReply(client->readToEnd()).body == "x page";
    });
    EXPECT_EQ(served, Waiting);
    EXPECT_TRUE(processUntil([&] { return server->connectionCount() == 0; }));
}

TEST_F(ServerStreamingTest, AFileThatGrowsWhileSentStopsAtItsAnnouncedLength) {
    const QByteArray original = numbered(24 * 1024 * 1024);
    write("growing.log", original);
    start();
    QByteArray answer;
    testsupport::runWithEventLoop([&] {
        HttpTestClient client(port);
        client.send("GET /growing.log HTTP/1.0\r\n\r\n");
        answer = client.readAtLeast(100000);
        // The rest of the answer is still to be sent when the file grows.
        QFile file(docDir + "/growing.log");
        if (file.open(QIODevice::Append))
            file.write(QByteArray(1024 * 1024, '+'));
        file.close();
        answer += client.readToEnd();
    });
    const HttpReply reply = testsupport::parseReply(answer);
    EXPECT_EQ(reply.header("Content-Length").toLongLong(), original.size());
    EXPECT_EQ(reply.body.size(), original.size());
    EXPECT_TRUE(reply.body == original);
}
