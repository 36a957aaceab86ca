#include "support/http_test_client.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

void ensureCoreApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "webserver_test";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

void runWithEventLoop(const std::function<void()>& work) {
    ensureCoreApplication();
    QEventLoop loop;
    std::thread thread([&] {
        work();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    thread.join();
}

bool processUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired())
            loop.quit();
    });
    check.start(5);
    if (!done())
        loop.exec();
    return done();
}

QByteArray HttpReply::header(const QByteArray& name) const {
    for (const QByteArray& line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

bool HttpReply::hasHeader(const QByteArray& name) const {
    for (const QByteArray& line : headerLines) {
        if (line.toLower().startsWith(name.toLower() + ':'))
            return true;
    }
    return false;
}

HttpReply parseReply(const QByteArray& raw) {
    HttpReply reply;
    reply.raw = raw;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    const QByteArray head = end < 0 ? raw : raw.left(end);
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (!lines.isEmpty())
        reply.statusLine = lines.takeFirst();
    reply.headerLines = lines;
    if (end >= 0) {
        reply.complete = true;
        reply.body = raw.mid(end + 4);
    }
    return reply;
}

HttpTestClient::HttpTestClient(quint16 port, int timeoutMs) {
    connectTo("127.0.0.1", port, timeoutMs);
}

HttpTestClient::HttpTestClient(const QByteArray& address, quint16 port, int timeoutMs) {
    connectTo(address, port, timeoutMs);
}

void HttpTestClient::connectTo(const QByteArray& host, quint16 port, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        connectError_ = errno;
        return;
    }
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, host.constData(), &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        connectError_ = errno;
        ::close(fd);
        return;
    }
    fd_ = fd;
}

HttpTestClient::~HttpTestClient() {
    if (fd_ >= 0)
        ::close(fd_);
}

void HttpTestClient::setReceiveBuffer(int bytes) {
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool HttpTestClient::send(const QByteArray& bytes) {
    qsizetype sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n =
            ::send(fd_, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return fd_ >= 0;
}

QByteArray HttpTestClient::readAtLeast(qsizetype n) {
    QByteArray data;
    char buffer[65536];
    while (fd_ >= 0 && data.size() < n) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got == 0)
            sawEnd_ = true;
        if (got <= 0)
            break;
        data.append(buffer, got);
    }
    return data;
}

QByteArray HttpTestClient::readToEnd() {
    return readAtLeast(std::numeric_limits<qsizetype>::max());
}

bool HttpTestClient::hasBytesWaiting() const {
    char byte = 0;
    return fd_ >= 0 && ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void HttpTestClient::shutdownSending() {
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

void HttpTestClient::abort() {
    if (fd_ < 0)
        return;
    linger option{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    ::close(fd_);
    fd_ = -1;
}

HttpReply fetch(quint16 port, const QByteArray& request) {
    HttpTestClient client(port);
    client.send(request);
    return parseReply(client.readToEnd());
}

} // namespace testsupport
