// The DevTools pipe conversation shared by several threads, against a peer
// on real pipes that answers out of order, interleaves events and goes away.
#include "catalogue/devtools_connection.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

using catalogue::DevToolsConnection;

namespace {

// The browser's side of the pipe.
class Peer {
public:
    Peer() {
        int toPeer[2], fromPeer[2];
        EXPECT_EQ(::pipe2(toPeer, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(fromPeer, O_CLOEXEC), 0);
        in_ = toPeer[0];
        out_ = fromPeer[1];
        for (int fd : {toPeer[1], fromPeer[0]})
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        connection = std::make_unique<DevToolsConnection>(toPeer[1], fromPeer[0]);
    }
    ~Peer() {
        connection.reset();
        hangUp();
        if (in_ >= 0)
            ::close(in_);
    }

    // The next complete message the connection sent; an empty object at its end.
    QJsonObject read() {
        for (;;) {
            const qsizetype end = buffer_.indexOf('\0');
            if (end >= 0) {
                const QJsonObject message = QJsonDocument::fromJson(buffer_.left(end)).object();
                buffer_.remove(0, end + 1);
                return message;
            }
            char chunk[4096];
            const ssize_t n = ::read(in_, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            buffer_.append(chunk, n);
        }
    }
    // Whether another message is on its way within a moment.
    bool more(int waitMs) {
        if (buffer_.contains('\0'))
            return true;
        pollfd entry{in_, POLLIN, 0};
        return ::poll(&entry, 1, waitMs) > 0;
    }
    void write(const QJsonObject& message) {
        std::lock_guard lock(writeMutex_);
        const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\0';
        // Split in two writes: a message may come in pieces.
        const qsizetype half = bytes.size() / 2;
        ASSERT_EQ(::write(out_, bytes.constData(), half), half);
        ASSERT_EQ(::write(out_, bytes.constData() + half, bytes.size() - half),
                  bytes.size() - half);
    }
    void hangUp() {
        if (out_ >= 0)
            ::close(out_);
        out_ = -1;
    }

    std::unique_ptr<DevToolsConnection> connection;

private:
    int in_ = -1;
    int out_ = -1;
    QByteArray buffer_;
    std::mutex writeMutex_;
};

QJsonObject event(const QString& session, const QString& method, int number) {
    return {{"sessionId", session}, {"method", method}, {"params", QJsonObject{{"n", number}}}};
}

} // namespace

// Many callers at once; the peer answers each batch in a shuffled order.
TEST(DevToolsConnection, EveryCallerGetsItsOwnAnswer) {
    Peer peer;
    constexpr int kCallers = 6, kCalls = 150;
    std::thread browser([&] {
        std::mt19937 shuffle(7);
        std::vector<QJsonObject> pending;
        for (int handled = 0; handled < kCallers * kCalls;) {
            const QJsonObject request = peer.read();
            if (request.isEmpty())
                return;
            pending.push_back(request);
            if (pending.size() < 4 && peer.more(10))
                continue;
            std::shuffle(pending.begin(), pending.end(), shuffle);
            for (const QJsonObject& r : pending) {
                // Noise for no one: a session without mailbox, an unknown id.
                peer.write(event("nobody", "Page.loadEventFired", 0));
                peer.write({{"id", 999999}, {"result", QJsonObject{}}});
                peer.write(
                    {{"id", r.value("id")},
                     {"result", QJsonObject{{"echo", r.value("params").toObject().value("n")}}}});
            }
            handled += int(pending.size());
            pending.clear();
        }
    });
    std::atomic<int> wrong{0}, missing{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < kCallers; ++c)
        callers.emplace_back([&, c] {
            for (int i = 0; i < kCalls; ++i) {
                const int n = c * 1000 + i;
                const auto result =
                    peer.connection->call("Echo", {{"n", n}}, {}, QDeadlineTimer(10000));
                if (!result)
                    ++missing;
                else if (result->value("echo").toInt() != n)
                    ++wrong;
            }
        });
    for (std::thread& caller : callers)
        caller.join();
    browser.join();
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(wrong, 0);
}

TEST(DevToolsConnection, EachTabGetsItsOwnMessagesInOrder) {
    Peer peer;
    peer.connection->openMailbox("A");
    peer.connection->openMailbox("B");
    peer.write(event("A", "Page.frameNavigated", 1));
    peer.write(event("B", "Page.frameNavigated", 1));
    peer.write(event("C", "Page.frameNavigated", 1)); // no mailbox: dropped
    peer.write(event("A", "Page.loadEventFired", 2));
    peer.write({{"id", 5}, {"sessionId", "B"}, {"result", QJsonObject{}}}); // not awaited
    const QDeadlineTimer deadline(5000);
    auto a1 = peer.connection->nextMessage("A", deadline);
    auto a2 = peer.connection->nextMessage("A", deadline);
    auto b1 = peer.connection->nextMessage("B", deadline);
    auto b2 = peer.connection->nextMessage("B", deadline);
    ASSERT_TRUE(a1 && a2 && b1 && b2);
    EXPECT_EQ(a1->value("method").toString(), "Page.frameNavigated");
    EXPECT_EQ(a2->value("method").toString(), "Page.loadEventFired");
    EXPECT_EQ(b1->value("params").toObject().value("n").toInt(), 1);
    EXPECT_EQ(b2->value("id").toInt(), 5);

    // Cleared and closed mailboxes keep nothing.
    peer.write(event("A", "Page.loadEventFired", 3));
    peer.write(event("B", "Page.loadEventFired", 3));
    QThread::msleep(100);
    peer.connection->clearMailbox("A");
    peer.connection->closeMailbox("B");
    EXPECT_FALSE(peer.connection->nextMessage("A", QDeadlineTimer(200)));
    EXPECT_FALSE(peer.connection->nextMessage("B", QDeadlineTimer(200)));
}

// The browser going away, or abort(), ends every wait at once.
TEST(DevToolsConnection, AnEndedConversationEndsEveryWaitAtOnce) {
    for (const bool byAbort : {false, true}) {
        SCOPED_TRACE(byAbort ? "abort" : "hang-up");
        Peer peer;
        peer.connection->openMailbox("A");
        std::atomic<int> ended{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i)
            waiters.emplace_back(
                [&] { ended += !peer.connection->call("Slow", {}, {}, QDeadlineTimer(60000)); });
        waiters.emplace_back(
            [&] { ended += !peer.connection->nextMessage("A", QDeadlineTimer(60000)); });
        for (int i = 0; i < 3; ++i)
            ASSERT_FALSE(peer.read().isEmpty()); // all three requests are out
        QElapsedTimer clock;
        clock.start();
        if (byAbort)
            peer.connection->abort();
        else
            peer.hangUp();
        for (std::thread& waiter : waiters)
            waiter.join();
        EXPECT_EQ(ended, 4);
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_TRUE(peer.connection->broken());
        EXPECT_EQ(peer.connection->send("After", {}, {}, QDeadlineTimer(1000)), 0);
    }
}

// An answer that comes after its caller gave up is dropped, and the next
// call gets its own.
TEST(DevToolsConnection, ALateAnswerIsDropped) {
    Peer peer;
    EXPECT_FALSE(peer.connection->call("Late", {}, {}, QDeadlineTimer(100)));
    const QJsonObject late = peer.read();
    peer.write({{"id", late.value("id")}, {"result", QJsonObject{{"which", "late"}}}});
    std::thread browser([&] {
        const QJsonObject next = peer.read();
        peer.write({{"id", next.value("id")}, {"result", QJsonObject{{"which", "next"}}}});
    });
    const auto answer = peer.connection->call("Next", {}, {}, QDeadlineTimer(5000));
    browser.join();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->value("which").toString(), "next");
}
