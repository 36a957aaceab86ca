#include "catalogue/devtools_connection.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QLoggingCategory>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(devtoolsTrace, "pagorama.renderer", QtWarningMsg)

namespace catalogue {

namespace {

// A message larger than this is no answer we asked for.
constexpr qsizetype kMaxMessageBytes = 256 * 1024 * 1024;

int pollMs(const QDeadlineTimer& deadline) {
    const qint64 left = deadline.remainingTime();
    return left < 0 ? 1000 : int(qMin<qint64>(left, 1000));
}

} // namespace

DevToolsConnection::DevToolsConnection(int toBrowser, int fromBrowser)
    : out_(toBrowser), in_(fromBrowser) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0 || out_ < 0 || in_ < 0)
        broken_ = true;
    else
        reader_ = std::thread([this] { readLoop(); });
}

DevToolsConnection::~DevToolsConnection() {
    abort();
    if (reader_.joinable())
        reader_.join();
    for (int fd : {out_, in_, wake_})
        if (fd >= 0)
            ::close(fd);
}

void DevToolsConnection::abort() {
    markBroken();
    if (wake_ >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }
}

bool DevToolsConnection::broken() const {
    std::lock_guard lock(mutex_);
    return broken_;
}

void DevToolsConnection::markBroken() {
    {
        std::lock_guard lock(mutex_);
        broken_ = true;
    }
    arrived_.notify_all();
}

int DevToolsConnection::send(const QString& method, const QJsonObject& params,
                             const QString& sessionId, const QDeadlineTimer& deadline) {
    return sendMessage(method, params, sessionId, deadline, false);
}

int DevToolsConnection::request(const QString& method, const QJsonObject& params,
                                const QString& sessionId, const QDeadlineTimer& deadline) {
    return sendMessage(method, params, sessionId, deadline, true);
}

int DevToolsConnection::sendMessage(const QString& method, const QJsonObject& params,
                                    const QString& sessionId, const QDeadlineTimer& deadline,
                                    bool awaited) {
    std::lock_guard writing(writeMutex_);
    if (broken())
        return 0;
    const int id = nextId_++;
    QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    if (!sessionId.isEmpty())
        message.insert("sessionId", sessionId);
    QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
    qCDebug(devtoolsTrace) << "sent" << bytes.left(300);
    bytes.append('\0');
    if (awaited) {
        // Before the write: the answer may come before this thread runs again.
        std::lock_guard lock(mutex_);
        answers_.emplace(id, std::nullopt);
    }
    if (!writeAll(bytes, deadline)) {
        // A message cut off in the middle leaves the pipe unusable.
        std::lock_guard lock(mutex_);
        answers_.erase(id);
        broken_ = true;
        arrived_.notify_all();
        return 0;
    }
    return id;
}

// Writes all bytes. A browser that has gone away makes the write fail with
// EPIPE; the signal that comes with it is blocked for this thread and taken
// back, so it never ends the program.
bool DevToolsConnection::writeAll(const QByteArray& bytes, const QDeadlineTimer& deadline) {
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    bool ok = true;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(out_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && !deadline.hasExpired() && !broken()) {
            pollfd entries[2]{{out_, POLLOUT, 0}, {wake_, POLLIN, 0}};
            ::poll(entries, 2, pollMs(deadline));
            continue;
        }
        if (n < 0 && errno == EPIPE) {
            const timespec zero{0, 0};
            sigtimedwait(&pipeSignal, nullptr, &zero);
        }
        ok = false;
        break;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

std::optional<QJsonObject> DevToolsConnection::waitAnswer(int id, const QDeadlineTimer& deadline) {
    std::unique_lock lock(mutex_);
    if (answers_.find(id) == answers_.end())
        return std::nullopt;
    // Looked up again after every wait: other requests add entries meanwhile.
    waitUntil(lock, deadline, [&] { return answers_.at(id).has_value(); });
    const auto entry = answers_.find(id);
    std::optional<QJsonObject> answer = std::move(entry->second);
    answers_.erase(entry); // also when late: the answer is no longer wanted
    return answer;
}

std::optional<QJsonObject> DevToolsConnection::call(const QString& method,
                                                    const QJsonObject& params,
                                                    const QString& sessionId,
                                                    const QDeadlineTimer& deadline) {
    const int id = request(method, params, sessionId, deadline);
    if (id == 0)
        return std::nullopt;
    const auto answer = waitAnswer(id, deadline);
    if (!answer || answer->contains(QLatin1String("error")))
        return std::nullopt;
    return answer->value(QLatin1String("result")).toObject();
}

void DevToolsConnection::openMailbox(const QString& sessionId) {
    std::lock_guard lock(mutex_);
    mailboxes_[sessionId];
}

void DevToolsConnection::closeMailbox(const QString& sessionId) {
    std::lock_guard lock(mutex_);
    mailboxes_.remove(sessionId);
}

void DevToolsConnection::clearMailbox(const QString& sessionId) {
    std::lock_guard lock(mutex_);
    const auto box = mailboxes_.find(sessionId);
    if (box != mailboxes_.end())
        box->clear();
}

std::optional<QJsonObject> DevToolsConnection::nextMessage(const QString& sessionId,
                                                           const QDeadlineTimer& deadline) {
    std::unique_lock lock(mutex_);
    // Looked up again after every wait: other tabs open and close theirs.
    const auto waiting = [&] {
        const auto box = mailboxes_.constFind(sessionId);
        return box == mailboxes_.cend() || !box->empty();
    };
    if (!waitUntil(lock, deadline, waiting))
        return std::nullopt;
    const auto box = mailboxes_.find(sessionId);
    if (box == mailboxes_.end())
        return std::nullopt;
    QJsonObject message = std::move(box->front());
    box->pop_front();
    return message;
}

template <typename Ready>
bool DevToolsConnection::waitUntil(std::unique_lock<std::mutex>& lock,
                                   const QDeadlineTimer& deadline, Ready ready) {
    for (;;) {
        if (ready())
            return true;
        if (broken_ || deadline.hasExpired())
            return false;
        const qint64 left = deadline.remainingTime();
        if (left < 0)
            arrived_.wait(lock);
        else
            arrived_.wait_for(lock, std::chrono::milliseconds(left));
    }
}

void DevToolsConnection::readLoop() {
    QByteArray buffer;
    char chunk[65536];
    for (;;) {
        pollfd entries[2]{{in_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int rc = ::poll(entries, 2, -1);
        if (rc < 0 && errno != EINTR)
            break;
        if (entries[1].revents)
            break; // aborted
        if (rc <= 0)
            continue;
        const ssize_t n = ::read(in_, chunk, sizeof chunk);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break; // the browser closed its end: it has died
        // Only the new bytes can hold the end of a message.
        qsizetype searchFrom = buffer.size();
        buffer.append(chunk, n);
        if (buffer.size() > kMaxMessageBytes)
            break;
        qsizetype start = 0;
        for (qsizetype end; (end = buffer.indexOf('\0', searchFrom)) >= 0; searchFrom = start) {
            const QByteArray bytes = buffer.mid(start, end - start);
            start = end + 1;
            qCDebug(devtoolsTrace) << "received" << bytes.left(300);
            const QJsonDocument document = QJsonDocument::fromJson(bytes);
            if (document.isObject())
                deliver(document.object());
        }
        buffer.remove(0, start);
    }
    markBroken();
}

void DevToolsConnection::deliver(const QJsonObject& message) {
    {
        std::lock_guard lock(mutex_);
        const QJsonValue id = message.value(QLatin1String("id"));
        if (!id.isUndefined()) {
            const auto awaited = answers_.find(id.toInt());
            if (awaited != answers_.end()) {
                awaited->second = message;
                arrived_.notify_all();
                return;
            }
        }
        const auto box = mailboxes_.find(message.value(QLatin1String("sessionId")).toString());
        if (box == mailboxes_.end())
            return;
        box->push_back(message);
    }
    arrived_.notify_all();
}

} // namespace catalogue
