#include "support/test_site.h"

#include "support/test_certificates.h"

#include <QBuffer>
#include <QImage>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace testsupport {

namespace {

// Reads what is there (waiting for it); 0 at the end, negative on error.
ssize_t receiveSome(int fd, SSL* tls, char* buffer, size_t size) {
    if (!tls)
        return ::recv(fd, buffer, size, 0);
    size_t got = 0;
    return SSL_read_ex(tls, buffer, size, &got) == 1 ? ssize_t(got) : 0;
}

class SocketConnection : public TestSite::Connection {
public:
    SocketConnection(int fd, SSL* tls, int wakeFd, const std::atomic<bool>& stopping)
        : fd_(fd), tls_(tls), wakeFd_(wakeFd), stopping_(stopping) {}

    bool send(const QByteArray& bytes) override {
        qsizetype done = 0;
        while (done < bytes.size()) {
            if (stopping_)
                return false;
            if (tls_) {
                size_t written = 0;
                if (SSL_write_ex(tls_, bytes.constData() + done, size_t(bytes.size() - done),
                                 &written) != 1)
                    return false;
                done += qsizetype(written);
                continue;
            }
            const ssize_t n =
                ::send(fd_, bytes.constData() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    void waitUntilClosed() override {
        char scratch[4096];
        while (!stopping_) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[1].revents)
                return;
            if (fds[0].revents) {
                const ssize_t n = receiveSome(fd_, tls_, scratch, sizeof scratch);
                if (n <= 0)
                    return;
            }
        }
    }

private:
    int fd_;
    SSL* tls_;
    int wakeFd_;
    const std::atomic<bool>& stopping_;
};

QByteArray reasonFor(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 501:
        return "Not Implemented";
    default:
        return "Status";
    }
}

QByteArray pngBytes() {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Sends the answer to a HEAD without its body.
void answer(const TestSite::Request& request, TestSite::Connection& connection,
            const QByteArray& full) {
    if (request.method == "HEAD") {
        const qsizetype end = full.indexOf("\r\n\r\n");
        connection.send(end < 0 ? full : full.left(end + 4));
    } else {
        connection.send(full);
    }
}

TestSite::Handler fixed(QByteArray full) {
    return [full](const TestSite::Request& request, TestSite::Connection& connection) {
        answer(request, connection, full);
    };
}

QByteArray redirect(int status, const QByteArray& location) {
    return TestSite::response(status, "text/html", "<html><body>moved</body></html>",
                              "Location: " + location + "\r\n");
}

constexpr qint64 bigBodySize = 100LL * 1024 * 1024;

void streamBig(TestSite::Connection& connection) {
    const QByteArray block(64 * 1024, 'x');
    for (qint64 sent = 0; sent < bigBodySize; sent += block.size())
        if (!connection.send(block))
            return;
}

} // namespace

TestSite::TestSite() {
    listen();
}

TestSite::TestSite(const TestCertificate& identity) {
    // A client that goes away during the handshake must not end the test.
    ::signal(SIGPIPE, SIG_IGN);
    tls_.reset(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!tls_ || SSL_CTX_use_certificate(tls_.get(), identity.certificate()) != 1 ||
        SSL_CTX_use_PrivateKey(tls_.get(), identity.key()) != 1)
        throw std::runtime_error("test site cannot use its certificate");
    listen();
}

void TestSite::listen() {
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, SOMAXCONN) != 0)
        throw std::runtime_error("test site cannot listen");
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    addBuiltInRoutes();
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestSite::~TestSite() {
    stopping_ = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe_[1], &byte, 1);
    acceptThread_.join();
    {
        std::lock_guard lock(mutex_);
        for (int fd : openFds_)
            ::shutdown(fd, SHUT_RDWR);
    }
    {
        std::unique_lock lock(mutex_);
        allServed_.wait(lock, [this] { return activeWorkers_ == 0; });
    }
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

QString TestSite::url(const QString& path) const {
    return urlAt(QStringLiteral("127.0.0.1"), path);
}

QString TestSite::urlAt(const QString& host, const QString& path) const {
    return (tls_ ? QStringLiteral("https://") : QStringLiteral("http://")) + host + ':' +
           QString::number(port_) + path;
}

QString TestSite::hostPort() const {
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

void TestSite::setRoute(const QByteArray& route, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[route] = std::move(handler);
}

void TestSite::setRawRoute(const QByteArray& route, const QByteArray& response) {
    setRoute(route, fixed(response));
}

QList<TestSite::Request> TestSite::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

int TestSite::requestCount(const QByteArray& route) const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const Request& request : log_)
        count += request.route == route ? 1 : 0;
    return count;
}

int TestSite::browserRequestCount() const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const Request& request : log_)
        count += request.raw.toLower().contains("\nuser-agent:") ? 1 : 0;
    return count;
}

void TestSite::clearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
    connections_ = 0;
}

QByteArray TestSite::response(int status, const QByteArray& contentType, const QByteArray& body,
                              const QByteArray& extraHeaders) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " " + reasonFor(status) + "\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += extraHeaders;
    head += "Connection: close\r\n\r\n";
    return head + body;
}

QByteArray TestSite::page(const QByteArray& title, const QByteArray& bodyHtml) {
    return "<html><head><title>" + title + "</title></head><body>" + bodyHtml + "</body></html>";
}

void TestSite::addBuiltInRoutes() {
    const QByteArray html = "text/html";
    setRoute("/head405", [html](const Request& request, Connection& connection) {
        if (request.method == "HEAD")
            connection.send(response(405, html, {}));
        else
            connection.send(response(200, html, page("Head 405")));
    });
    setRoute("/head501", [html](const Request& request, Connection& connection) {
        if (request.method == "HEAD")
            connection.send(response(501, html, {}));
        else
            connection.send(response(200, html, page("Head 501")));
    });
    setRawRoute("/self-redirect", redirect(302, "/self-redirect"));
    setRawRoute("/redirect/301", redirect(301, "/title"));
    setRawRoute("/redirect/302", redirect(302, "/title"));
    setRawRoute("/redirect/307", redirect(307, "/title"));
    setRawRoute("/x/root-redirect", redirect(302, "/a/b"));
    setRawRoute("/x/folder-redirect", redirect(302, "c.html"));
    setRawRoute("/a/b", response(200, html, page("A B")));
    setRawRoute("/x/c.html", response(200, html, page("X C")));
    setRawRoute("/refresh/unquoted",
                response(200, html,
                         "<html><head><meta http-equiv=refresh content=\"0; URL=next.html\">"
                         "<title>Unquoted</title></head><body></body></html>"));
    setRawRoute("/refresh/quoted",
                response(200, html,
                         "<html><head><meta http-equiv=\"refresh\" content=\"0; URL=next.html\">"
                         "<title>Quoted</title></head><body></body></html>"));
    setRawRoute("/refresh/self",
                response(200, html,
                         "<html><head><meta http-equiv=refresh content=\"0; URL=self\">"
                         "</head><body></body></html>"));
    setRawRoute("/refresh/next.html", response(200, html, page("Next")));
    setRawRoute("/title", response(200, html, page("Test Title")));
    setRawRoute("/notitle", response(200, html, "<html><body>no title here</body></html>"));
    setRawRoute("/unclosed-title",
                response(200, html, "<html><head><title>Open title</head><body></body></html>"));
    setRawRoute("/chunked", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                            "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                            "10\r\n<html><head><tit\r\n"
                            "1c\r\nle>Chunked</title></head><bo\r\n"
                            "11\r\ndy></body></html>\r\n"
                            "0\r\n\r\n");
    setRawRoute("/bad-chunk", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                              "Transfer-Encoding: Chunked\r\nConnection: close\r\n\r\n"
                              "zz\r\n<html></html>\r\n0\r\n\r\n");
    setRoute("/close-delimited", [](const Request& request, Connection& connection) {
        connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
        if (request.method != "HEAD")
            connection.send(page("Closed", "ended by closing"));
    });
    setRawRoute("/type/html", response(200, "text/html; charset=utf-8", page("Html")));
    setRawRoute("/image.png", response(200, "image/png", pngBytes()));
    setRawRoute("/download.zip", response(200, "application/zip",
                                          QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0')));
    setRawRoute("/colour", response(200, html,
                                    "<html><head><title>Colour</title></head>"
                                    "<body style=\"background:#ff0000;margin:0\"></body></html>"));
    setRawRoute("/blank", response(200, html,
                                   "<html><head><title>Blank</title></head>"
                                   "<body style=\"background:#ffffff\"></body></html>"));
    setRoute("/stall",
             [](const Request&, Connection& connection) { connection.waitUntilClosed(); });
    setRoute("/stall-for-browsers", [](const Request& request, Connection& connection) {
        // The probe sends no User-Agent; a browser does.
        if (request.raw.toLower().contains("\nuser-agent:")) {
            connection.waitUntilClosed();
            return;
        }
        const QByteArray answer = response(200, "text/html", page("Stalls for browsers"));
        connection.send(request.method == "HEAD" ? answer.left(answer.indexOf("\r\n\r\n") + 4)
                                                 : answer);
    });
    setRawRoute("/garbage", "\x01\x02 this is not HTTP at all \xff\xfe");
    setRawRoute("/garbage-status", "HTTP/1.1 abc Nonsense\r\nContent-Length: 0\r\n\r\n");
    setRoute("/endless-headers", [](const Request&, Connection& connection) {
        connection.send("HTTP/1.1 200 OK\r\n");
        const QByteArray line = "X-Filler: " + QByteArray(1000, 'h') + "\r\n";
        QByteArray block;
        for (int i = 0; i < 64; ++i)
            block += line;
        while (connection.send(block)) {
        }
    });
    setRoute("/big", [html](const Request& request, Connection& connection) {
        connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                        QByteArray::number(bigBodySize) + "\r\nConnection: close\r\n\r\n");
        if (request.method != "HEAD")
            streamBig(connection);
    });
    setRoute("/big-close", [](const Request& request, Connection& connection) {
        connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
        if (request.method != "HEAD")
            streamBig(connection);
    });
}

TestSite::Handler TestSite::handlerFor(const QByteArray& route) const {
    std::lock_guard lock(mutex_);
    const auto found = routes_.find(route);
    if (found != routes_.end())
        return found->second;
    if (route.startsWith("/status/")) {
        const int status = route.mid(8).toInt();
        return fixed(response(status, "text/html", page("Status " + QByteArray::number(status))));
    }
    if (route.startsWith("/chain/")) {
        const int step = route.mid(7).toInt();
        if (step <= 0)
            return fixed(response(200, "text/html", page("Chain end")));
        return fixed(redirect(301, "/chain/" + QByteArray::number(step - 1)));
    }
    return fixed(response(404, "text/html", page("Not Found")));
}

void TestSite::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents || stopping_)
            return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        std::lock_guard lock(mutex_);
        openFds_.push_back(fd);
        ++activeWorkers_;
        std::thread([this, fd] { serve(fd); }).detach();
    }
}

void TestSite::serve(int fd) {
    SSL* tls = nullptr;
    if (tls_) {
        tls = SSL_new(tls_.get());
        SSL_set_fd(tls, fd);
        if (SSL_accept(tls) != 1) {
            SSL_free(tls); // refused by the client, or no TLS client at all
            tls = nullptr;
            std::lock_guard lock(mutex_);
            ::close(fd);
            openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
            if (--activeWorkers_ == 0)
                allServed_.notify_all();
            return;
        }
    }
    QByteArray received;
    char buffer[4096];
    while (!received.contains("\r\n\r\n") && received.size() < 64 * 1024) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (!(tls && SSL_pending(tls) > 0) && ::poll(fds, 2, -1) < 0 && errno == EINTR)
            continue;
        if (fds[1].revents)
            break;
        const ssize_t n = receiveSome(fd, tls, buffer, sizeof buffer);
        if (n <= 0)
            break;
        received.append(buffer, n);
    }
    const qsizetype end = received.indexOf("\r\n\r\n");
    if (end >= 0 && !stopping_) {
        Request request;
        request.raw = received.left(end + 4);
        const QList<QByteArray> words = request.raw.left(request.raw.indexOf("\r\n")).split(' ');
        request.method = words.value(0);
        request.path = words.value(1);
        request.route = request.path.left(
            request.path.indexOf('?') < 0 ? request.path.size() : request.path.indexOf('?'));
        {
            std::lock_guard lock(mutex_);
            log_.append(request);
        }
        SocketConnection connection(fd, tls, wakePipe_[0], stopping_);
        handlerFor(request.route)(request, connection);
    }
    if (tls) {
        SSL_shutdown(tls);
        SSL_free(tls);
    }
    std::lock_guard lock(mutex_);
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    if (--activeWorkers_ == 0)
        allServed_.notify_all();
}

} // namespace testsupport
