#include "support/static_server.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace testsupport {

namespace {

void sendAll(int fd, const QByteArray& data) {
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t n =
            ::send(fd, data.constData() + sent, size_t(data.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        sent += n;
    }
}

QByteArray contentType(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "htm" || suffix == "html")
        return "text/html";
    if (suffix == "xml" || suffix == "xsl")
        return "text/xml";
    if (suffix == "jpg")
        return "image/jpeg";
    if (suffix == "bmp")
        return "image/bmp";
    return "application/octet-stream";
}

} // namespace

StaticServer::StaticServer(const QString& root, const QString& defaultDocument)
    : root_(QDir(root).absolutePath()), defaultDocument_(defaultDocument) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, SOMAXCONN) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("static server: cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0)
        throw std::runtime_error("static server: no pipe");
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    acceptor_ = std::thread([this] { acceptLoop(); });
}

StaticServer::~StaticServer() {
    stopping_ = true;
    (void)!::write(wakeWrite_, "x", 1);
    acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (std::thread& worker : workers)
        worker.join();
    ::close(listener_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

QStringList StaticServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void StaticServer::pauseBefore(const QString& name, const QByteArray& marker, int pauseMs) {
    std::lock_guard lock(mutex_);
    pauseName_ = name;
    pauseMarker_ = marker;
    pauseMs_ = pauseMs;
}

void StaticServer::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::lock_guard lock(mutex_);
        workers_.emplace_back([this, client] { serve(client); });
    }
}

void StaticServer::serve(int client) {
    QByteArray head;
    while (!head.contains("\r\n\r\n") && head.size() < 65536) {
        pollfd fds[2] = {{client, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, 10000) <= 0 || fds[1].revents)
            break;
        char buffer[4096];
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        head.append(buffer, n);
    }
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    if (requestLine.size() < 3) {
        ::close(client);
        return;
    }
    const QByteArray method = requestLine[0];
    QByteArray target = requestLine[1];
    {
        std::lock_guard lock(mutex_);
        requests_ << QString::fromUtf8(target);
    }
    for (char stop : {'?', '#'})
        if (const qsizetype at = target.indexOf(stop); at >= 0)
            target.truncate(at);

    QStringList parts;
    bool refused = false;
    for (const QString& part : QString::fromUtf8(QByteArray::fromPercentEncoding(target))
                                   .split(QRegularExpression("[/\\\\]"))) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == ".." || part.contains(QChar(0)))
            refused = true;
        parts << part;
    }
    if (parts.isEmpty())
        parts << defaultDocument_;
    const QString path = root_ + '/' + parts.join('/');

    QFile file(path);
    QByteArray answer;
    qsizetype pauseAt = -1;
    int pauseMs = 0;
    if (!refused && (method == "GET" || method == "HEAD") && QFileInfo(path).isFile() &&
        file.open(QIODevice::ReadOnly)) {
        const QByteArray body = file.readAll();
        answer = "HTTP/1.1 200 OK\r\nContent-Type: " + contentType(path) +
                 "\r\nContent-Length: " + QByteArray::number(body.size()) +
                 "\r\nConnection: close\r\n\r\n";
        if (method == "GET") {
            std::lock_guard lock(mutex_);
            if (!pauseName_.isEmpty() && parts.last() == pauseName_ &&
                body.contains(pauseMarker_)) {
                pauseAt = answer.size() + body.indexOf(pauseMarker_);
                pauseMs = pauseMs_;
            }
            answer += body;
        }
    } else {
        const QByteArray body = "<html><body>Not found</body></html>";
        answer = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
    if (pauseAt >= 0) {
        sendAll(client, answer.left(pauseAt));
        pollfd wake = {wakeRead_, POLLIN, 0};
        ::poll(&wake, 1, pauseMs);
        answer.remove(0, pauseAt);
    }
    sendAll(client, answer);
    ::shutdown(client, SHUT_WR);
    ::close(client);
}

} // namespace testsupport
