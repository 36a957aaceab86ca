#include "catalogue/site_http_client.h"

#include "catalogue/tls_connection.h"
#include "catalogue/wait_notice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace catalogue {

namespace {

std::atomic<int> defaultTimeout{TSiteHttpClient::DefaultTimeoutMs};
// Raised by cancelEveryClient: a client made before the raise is cancelled.
std::atomic<int> generation{0};

QString socketError(int number) {
    return QStringLiteral("Winsock error no %1").arg(number);
}

bool onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// A host name look-up on a thread of its own. The waiter may give up (time-out,
// cancel) before it ends: the thread then drops the answer itself.
struct NameLookUp {
    NameLookUp() : doneFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~NameLookUp() {
        if (result)
            ::freeaddrinfo(result);
        if (doneFd >= 0)
            ::close(doneFd);
    }
    void finish(int rc, addrinfo* found) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            code = rc;
            result = found;
        }
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(doneFd, &one, sizeof one);
    }
    addrinfo* take(int* rc) {
        std::lock_guard<std::mutex> lock(mutex);
        *rc = code;
        addrinfo* found = result;
        result = nullptr;
        return found;
    }

    const int doneFd;
    std::mutex mutex;
    int code = EAI_AGAIN;
    addrinfo* result = nullptr;
};

// One connection: waits for readiness with the client's time-out, which
// restarts with every bit of progress.
class Connection {
public:
    Connection(int timeoutMs, std::function<bool()> canceled, WaitNotice* waitNotice)
        : timeoutMs_(timeoutMs), canceled_(std::move(canceled)), waitNotice_(waitNotice) {}
    ~Connection() {
        tls_.reset(); // before the socket it uses
        if (fd_ >= 0)
            ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void open(const QString& host, quint16 port) {
        addrinfo* found = resolve(host, port);
        int lastError = ECONNREFUSED;
        for (addrinfo* address = found; address; address = address->ai_next) {
            fd_ = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                           address->ai_protocol);
            if (fd_ < 0) {
                lastError = errno;
                continue;
            }
            if (::connect(fd_, address->ai_addr, address->ai_addrlen) == 0) {
                ::freeaddrinfo(found);
                return;
            }
            lastError = errno;
            if (lastError == EINPROGRESS) {
                try {
                    wait(fd_, POLLOUT);
                } catch (...) {
                    ::freeaddrinfo(found);
                    throw;
                }
                socklen_t length = sizeof lastError;
                ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &lastError, &length);
                if (lastError == 0) {
                    ::freeaddrinfo(found);
                    return;
                }
            }
            ::close(fd_);
            fd_ = -1;
        }
        ::freeaddrinfo(found);
        throw ESocketError(socketError(lastError));
    }

    // Makes the open connection a TLS one; throws when the handshake fails.
    void startTls(const QString& host) {
        tls_ = std::make_unique<TlsConnection>(fd_, host);
        for (TlsWait need; (need = tls_->handshake()) != TlsWait::None;)
            waitFor(need);
    }

    void sendAll(const QByteArray& bytes) {
        if (tls_) {
            sendAllTls(bytes);
            return;
        }
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::send(fd_, bytes.constData() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += n;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                wait(fd_, POLLOUT);
            } else if (n < 0 && errno != EINTR) {
                throw ESocketError(socketError(errno));
            }
        }
    }

    // Appends what arrives to buffer; false at the end of the stream.
    bool receive(QByteArray& buffer) {
        char chunk[64 * 1024];
        if (tls_)
            return receiveTls(buffer, chunk, sizeof chunk);
        for (;;) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n > 0) {
                buffer.append(chunk, n);
                return true;
            }
            if (n == 0)
                return false;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                wait(fd_, POLLIN);
            else if (errno == ECONNRESET)
                return false;
            else if (errno != EINTR)
                throw ESocketError(socketError(errno));
        }
    }

private:
    void waitFor(TlsWait need) { wait(fd_, need == TlsWait::Read ? POLLIN : POLLOUT); }

    void sendAllTls(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            qsizetype written = 0;
            const TlsWait need =
                tls_->write(bytes.constData() + done, bytes.size() - done, &written);
            done += written;
            if (need != TlsWait::None)
                waitFor(need);
        }
    }

    bool receiveTls(QByteArray& buffer, char* chunk, qsizetype size) {
        for (;;) {
            qsizetype got = 0;
            bool ended = false;
            const TlsWait need = tls_->read(chunk, size, &got, &ended);
            if (got > 0) {
                buffer.append(chunk, got);
                return true;
            }
            if (ended)
                return false;
            if (need != TlsWait::None)
                waitFor(need);
        }
    }

    // The addresses of host. A name (not a literal address) is looked up
    // on a thread of its own, so the look-up obeys the time-out and cancel
    // like every other wait and never holds up the main thread's events.
    addrinfo* resolve(const QString& host, quint16 port) {
        QString name = host;
        if (name.startsWith('[') && name.endsWith(']'))
            name = name.mid(1, name.size() - 2); // an IPv6 literal
        const QByteArray nameBytes = name.toUtf8();
        const QByteArray service = QByteArray::number(port);
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST;
        addrinfo* found = nullptr;
        if (::getaddrinfo(nameBytes.constData(), service.constData(), &hints, &found) == 0 && found)
            return found;

        auto lookUp = std::make_shared<NameLookUp>();
        if (lookUp->doneFd < 0)
            throw HttpClientError(HttpErrorKind::Other, socketError(errno));
        std::thread([lookUp, nameBytes, service] {
            addrinfo anyName{};
            anyName.ai_family = AF_UNSPEC;
            anyName.ai_socktype = SOCK_STREAM;
            addrinfo* result = nullptr;
            const int rc =
                ::getaddrinfo(nameBytes.constData(), service.constData(), &anyName, &result);
            lookUp->finish(rc, result);
        }).detach();
        wait(lookUp->doneFd, POLLIN);
        int rc = 0;
        found = lookUp->take(&rc);
        if (rc != 0 || !found) {
            if (found)
                ::freeaddrinfo(found);
            throw ESocketError(QStringLiteral("Host not found: %1 (%2)")
                                   .arg(host, QString::fromLocal8Bit(gai_strerror(rc))));
        }
        return found;
    }

    // Returns when fd is ready for events; throws on time-out or cancel.
    void wait(int fd, short events) {
        const QDeadlineTimer deadline(timeoutMs_);
        const bool pumpEvents = onMainThread();
        std::optional<NoticedWait> noticed;
        if (!pumpEvents) {
            pollfd descriptor{fd, events, 0};
            if (::poll(&descriptor, 1, 0) > 0)
                return; // ready: no wait to tell of
            noticed.emplace(waitNotice_);
        }
        std::unique_ptr<QSocketNotifier> notifier;
        QTimer tick;
        if (pumpEvents) {
            notifier = std::make_unique<QSocketNotifier>(
                fd, events == POLLIN ? QSocketNotifier::Read : QSocketNotifier::Write);
            // Wakes the event wait now and then to look at cancel and time-out.
            tick.start(100);
        }
        for (;;) {
            if (canceled_())
                throw ECanceledError();
            const qint64 left = deadline.remainingTime();
            if (left == 0)
                throw ETimedOutError(QStringLiteral("Operation timed out"));
            pollfd descriptor{fd, events, 0};
            const int slice = pumpEvents ? 0 : int(qMin<qint64>(left, 200));
            const int ready = ::poll(&descriptor, 1, slice);
            if (ready > 0)
                return;
            if (ready < 0 && errno != EINTR)
                throw ESocketError(socketError(errno));
            if (pumpEvents)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    int fd_ = -1;
    std::unique_ptr<TlsConnection> tls_;
    int timeoutMs_;
    std::function<bool()> canceled_;
    WaitNotice* waitNotice_;
};

// Reads the header lines and the body of one answer from a connection.
class AnswerReader {
public:
    explicit AnswerReader(Connection& connection) : connection_(connection) {}

    // Header lines up to the first empty line (all lines when the stream ends
    // before one).
    QStringList readHeaders() {
        qsizetype end;
        while ((end = headerEnd()) < 0) {
            if (buffer_.size() > TSiteHttpClient::MaxHeaderBytes)
                throw HttpClientError(HttpErrorKind::Message,
                                      QStringLiteral("Header lines too long"));
            if (!connection_.receive(buffer_)) {
                ended_ = true;
                end = buffer_.size();
                break;
            }
        }
        QStringList lines;
        const QByteArray head = buffer_.left(end);
        for (QByteArray line : head.split('\n')) {
            if (line.endsWith('\r'))
                line.chop(1);
            if (line.isEmpty())
                break;
            lines << QString::fromLatin1(line);
        }
        buffer_.remove(0, qMin(buffer_.size(), end + blankLineLength_));
        return lines;
    }

    QByteArray readBody(const QStringList& headers) {
        if (headerValue(headers, "transfer-encoding")
                .trimmed()
                .compare(QLatin1String("chunked"), Qt::CaseInsensitive) == 0)
            return readChunked();
        bool ok = false;
        const qint64 length = headerValue(headers, "content-length").trimmed().toLongLong(&ok);
        if (ok && length > 0)
            return readCounted(length);
        return readCounted(-1);
    }

private:
    qsizetype headerEnd() {
        const qsizetype crlf = buffer_.indexOf("\r\n\r\n");
        const qsizetype lf = buffer_.indexOf("\n\n");
        if (crlf >= 0 && (lf < 0 || crlf + 1 <= lf)) {
            blankLineLength_ = 4;
            return crlf;
        }
        blankLineLength_ = 2;
        return lf;
    }

    static QString headerValue(const QStringList& headers, const char* name) {
        for (qsizetype i = 1; i < headers.size(); ++i) {
            const qsizetype colon = headers[i].indexOf(':');
            if (colon > 0 && headers[i].left(colon).trimmed().compare(QLatin1String(name),
                                                                      Qt::CaseInsensitive) == 0)
                return headers[i].mid(colon + 1);
        }
        return {};
    }

    bool more() {
        if (ended_ || !connection_.receive(buffer_)) {
            ended_ = true;
            return false;
        }
        return true;
    }

    // A length of -1 reads to the end of the stream. Keeps at most the limit.
    QByteArray readCounted(qint64 length) {
        const qint64 wanted = length < 0 ? TSiteHttpClient::MaxBodyBytes
                                         : qMin<qint64>(length, TSiteHttpClient::MaxBodyBytes);
        while (buffer_.size() < wanted && more()) {
        }
        return buffer_.left(wanted);
    }

    QByteArray readLine() {
        qsizetype end;
        while ((end = buffer_.indexOf('\n')) < 0) {
            if (buffer_.size() > TSiteHttpClient::MaxHeaderBytes || !more())
                throw HttpClientError(HttpErrorKind::Transfer,
                                      QStringLiteral("Error receiving the stream"));
        }
        QByteArray line = buffer_.left(end);
        buffer_.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }

    QByteArray readChunked() {
        QByteArray body;
        for (;;) {
            QByteArray sizeText = readLine();
            const qsizetype extension = sizeText.indexOf(';');
            if (extension >= 0)
                sizeText.truncate(extension);
            bool ok = false;
            const qint64 size = sizeText.trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0)
                throw HttpClientError(HttpErrorKind::Transfer,
                                      QStringLiteral("Error receiving the stream"));
            if (size == 0)
                return body;
            const qint64 room = TSiteHttpClient::MaxBodyBytes - body.size();
            while (buffer_.size() < qMin(size, room) && more()) {
            }
            body += buffer_.left(qMin(size, room));
            if (body.size() >= TSiteHttpClient::MaxBodyBytes || buffer_.size() < size)
                return body; // the limit, or the stream ended inside the chunk
            buffer_.remove(0, size);
            readLine(); // the line end after the chunk data
        }
    }

    Connection& connection_;
    QByteArray buffer_;
    qsizetype blankLineLength_ = 4;
    bool ended_ = false;
};

} // namespace

TSiteHttpClient::TSiteHttpClient()
    : timeoutMs_(defaultTimeout.load()), generation_(generation.load()) {}

void TSiteHttpClient::cancelEveryClient() {
    ++generation;
}

int TSiteHttpClient::cancelGeneration() {
    return generation.load();
}

void TSiteHttpClient::setDefaultTimeoutMs(int ms) {
    defaultTimeout = ms;
}

TSiteHttpClient::Address TSiteHttpClient::splitAddress(const QString& url) {
    QString rest = url;
    Address address;
    if (rest.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) {
        rest = rest.mid(7);
    } else if (rest.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        rest = rest.mid(8);
        address.secure = true;
        address.port = 443;
    }
    const qsizetype slash = rest.indexOf('/');
    address.host = slash < 0 ? rest : rest.left(slash);
    address.path = slash < 0 ? QStringLiteral("/") : rest.mid(slash);
    // The port follows the last ":" that is not inside an IPv6 literal's brackets.
    const qsizetype colon = address.host.lastIndexOf(':');
    if (colon >= 0 && colon > address.host.lastIndexOf(']')) {
        bool ok = false;
        address.port = address.host.mid(colon + 1).toUShort(&ok);
        if (!ok)
            address.port = 0;
        address.host.truncate(colon);
    }
    return address;
}

QByteArray TSiteHttpClient::requestText(const QByteArray& method, const QString& url) {
    const Address address = splitAddress(url);
    return method + " " + address.path.toUtf8() + " HTTP/1.1\r\n" +
           "Host: " + address.host.toUtf8() + "\r\n" + "Accept: */*\r\n" + "Connection: close\r\n" +
           "\r\n";
}

int TSiteHttpClient::statusCode() const {
    if (headers_.isEmpty())
        return -1;
    const QStringList words = headers_.first().split(' ', Qt::SkipEmptyParts);
    bool ok = false;
    const int status = words.value(1).toInt(&ok);
    return ok ? status : -1;
}

void TSiteHttpClient::request(const QByteArray& method, const QString& url) {
    headers_.clear();
    body_.clear();
    try {
        exchange(method, url);
    } catch (...) {
        headers_.clear();
        body_.clear();
        throw;
    }
}

void TSiteHttpClient::exchange(const QByteArray& method, const QString& url) {
    const Address address = splitAddress(url);
    if (address.port == 0)
        throw HttpClientError(HttpErrorKind::Other, QStringLiteral("Invalid port in %1").arg(url));
    Connection connection(timeoutMs_, [this] { return canceled(); }, waitNotice_);
    if (canceled())
        throw ECanceledError();
    connection.open(address.host, address.port);
    if (address.secure)
        connection.startTls(address.host);
    connection.sendAll(requestText(method, url));
    AnswerReader reader(connection);
    QStringList headers = reader.readHeaders();
    if (method != "HEAD")
        body_ = reader.readBody(headers);
    headers_ = std::move(headers);
}

} // namespace catalogue
