#pragma once
// One conversation with a browser over its DevTools pipe (JSON messages
// ended by a NUL byte), shared by several threads at once. A reader thread
// of its own takes every message as it comes and hands it to whoever waits
// for it: the answer to a request goes to its caller, the events (and
// other answers) of a tab's session to that tab's mailbox, the rest is
// dropped. When the browser goes away, or abort() is called, every wait
// ends at once.
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

class QDeadlineTimer;

namespace catalogue {

class DevToolsConnection {
public:
    // Takes over both pipe ends (non-blocking) and closes them when destroyed.
    DevToolsConnection(int toBrowser, int fromBrowser);
    ~DevToolsConnection();
    DevToolsConnection(const DevToolsConnection&) = delete;
    DevToolsConnection& operator=(const DevToolsConnection&) = delete;

    // Ends every wait now and refuses further sends.
    void abort();
    // The browser has gone away, the pipe failed or abort() was called.
    bool broken() const;

    // Sends a command whose answer goes to its session's mailbox (or is
    // dropped); returns its number, or 0 when it could not be sent.
    int send(const QString& method, const QJsonObject& params, const QString& sessionId,
             const QDeadlineTimer& deadline);
    // Sends a command whose answer waitAnswer() then collects.
    int request(const QString& method, const QJsonObject& params, const QString& sessionId,
                const QDeadlineTimer& deadline);
    // The whole answer message to a request; nothing when it is late or the
    // connection broke. A late answer that comes afterwards is dropped.
    std::optional<QJsonObject> waitAnswer(int id, const QDeadlineTimer& deadline);
    // request + waitAnswer: the answer's result, nothing for an error answer.
    std::optional<QJsonObject> call(const QString& method, const QJsonObject& params,
                                    const QString& sessionId, const QDeadlineTimer& deadline);

    // A tab's messages are kept, in order, only while its mailbox is open.
    void openMailbox(const QString& sessionId);
    void closeMailbox(const QString& sessionId);
    void clearMailbox(const QString& sessionId);
    // The next message for the session; nothing at the deadline or when broken.
    std::optional<QJsonObject> nextMessage(const QString& sessionId,
                                           const QDeadlineTimer& deadline);

private:
    int sendMessage(const QString& method, const QJsonObject& params, const QString& sessionId,
                    const QDeadlineTimer& deadline, bool awaited);
    bool writeAll(const QByteArray& bytes, const QDeadlineTimer& deadline);
    void readLoop();
    void deliver(const QJsonObject& message);
    void markBroken();
    template <typename Ready>
    bool waitUntil(std::unique_lock<std::mutex>& lock, const QDeadlineTimer& deadline, Ready ready);

    const int out_;
    const int in_;
    int wake_ = -1; // eventfd that ends the reader's and writers' polls

    std::mutex writeMutex_; // one message on the pipe at a time
    int nextId_ = 1;        // with writeMutex_ held

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    bool broken_ = false;
    std::unordered_map<int, std::optional<QJsonObject>> answers_; // awaited ids
    QHash<QString, std::deque<QJsonObject>> mailboxes_;

    std::thread reader_;
};

} // namespace catalogue
