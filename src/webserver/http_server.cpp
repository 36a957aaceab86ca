#include "webserver/http_server.h"

#include "webserver/http_answer.h"
#include "webserver/port_resolve.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace webserver {

namespace {

int registered(int* slot) {
    if (*slot == 0)
        *slot = QEvent::registerEventType();
    return *slot;
}

// The system's maximum listen backlog.
int listenBacklog() {
    QFile file(QStringLiteral("/proc/sys/net/core/somaxconn"));
    if (file.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int value = file.readAll().trimmed().toInt(&ok);
        if (ok && value > 0)
            return value;
    }
    return SOMAXCONN;
}

// Answers a client that cannot be taken on and closes its socket. What it
// has sent is read first, so the close does not reset the answer away.
void refuseBusy(int fd) {
    char discard[4096];
    for (int reads = 0; reads < 16 && ::recv(fd, discard, sizeof discard, MSG_DONTWAIT) > 0;
         ++reads) {
    }
    static const QByteArray answer =
        statusAnswer("HTTP/1.0", 503, "Service Unavailable",
                     "Too many clients are connected to this server; try again in a moment.");
    ::send(fd, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

QString lastError(const char* step) {
    return QStringLiteral("%1: %2 (error #%3)")
        .arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(errno)))
        .arg(errno);
}

} // namespace

int closeDeferredEventType() {
    static int type = 0;
    return registered(&type);
}
int responseDoneEventType() {
    static int type = 0;
    return registered(&type);
}
int dataSentEventType() {
    static int type = 0;
    return registered(&type);
}
int rawDataEventType() {
    static int type = 0;
    return registered(&type);
}
int clientClosedEventType() {
    static int type = 0;
    return registered(&type);
}

ClientClosedEvent::ClientClosedEvent(THttpConnection* connection)
    : QEvent(QEvent::Type(clientClosedEventType())), connection(connection) {}

THttpServer::THttpServer(QObject* parent) : QObject(parent) {}

THttpServer::~THttpServer() {
    destroying_ = true;
    closeListening(false);
    // The connections are children of this object and close their sockets
    // when deleted; no handler runs for them any more.
    for (THttpConnection* connection : connections_)
        connection->server_ = nullptr;
}

QString THttpServer::canonicalDocDir() {
    if (canonicalFor_ != docDir || canonical_.isEmpty()) {
        canonicalFor_ = docDir;
        canonical_ = QFileInfo(docDir).canonicalFilePath();
    }
    return canonical_;
}

void THttpServer::setPort(const QString& port) {
    if (port == port_)
        return;
    port_ = port;
    if (isListening()) {
        closeListening(true);
        startServer();
    }
}

void THttpServer::setAddr(const QString& addr) {
    if (addr == addr_)
        return;
    addr_ = addr;
    if (isListening()) {
        closeListening(true);
        startServer();
    }
}

void THttpServer::startServer() {
    if (isListening())
        return;
    const PortResolution port = resolvePort(port_);
    if (!port.ok)
        throw ServerError(port.error.toStdString());

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port.port);
    const QByteArray host = addr_.toLatin1();
    if (inet_pton(AF_INET, host.constData(), &address.sin_addr) != 1)
        throw ServerError(QStringLiteral("Bind: invalid address '%1'").arg(addr_).toStdString());

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw ServerError(lastError("Socket").toStdString());
    // Connections of an earlier run left waiting must not block a restart.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const QString error = lastError("Bind");
        ::close(fd);
        throw ServerError(error.toStdString());
    }
    if (::listen(fd, listenBacklog()) != 0) {
        const QString error = lastError("Listen");
        ::close(fd);
        throw ServerError(error.toStdString());
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    boundPort_ = ntohs(bound.sin_port);
    listenFd_ = fd;
    acceptNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(acceptNotifier_, &QSocketNotifier::activated, this, [this] { acceptReady(); });
    if (onServerStarted)
        onServerStarted(*this);
}

void THttpServer::closeListening(bool notify) {
    if (listenFd_ < 0)
        return;
    acceptNotifier_->setEnabled(false);
    acceptNotifier_->deleteLater();
    acceptNotifier_ = nullptr;
    ::close(listenFd_);
    listenFd_ = -1;
    boundPort_ = 0;
    if (notify && !destroying_ && onServerStopped)
        onServerStopped(*this);
}

void THttpServer::stopServer() {
    closeListening(true);
    for (auto it = connections_.rbegin(); it != connections_.rend(); ++it) {
        try {
            (*it)->abortConnection();
        } catch (...) {
            // the next one is aborted all the same
        }
    }
}

void THttpServer::acceptReady() {
    while (listenFd_ >= 0) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: pause accepting for a moment instead of
                // spinning on a backlog that cannot be taken.
                acceptNotifier_->setEnabled(false);
                QTimer::singleShot(100, this, [this] {
                    if (acceptNotifier_)
                        acceptNotifier_->setEnabled(true);
                });
            }
            return;
        }
        if (!makeRoom()) {
            refuseBusy(fd);
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        THttpConnection* connection = factory_ ? factory_() : new THttpConnection;
        connections_.push_back(connection);
        connection->attach(this, fd, QString::fromLatin1(text));
        try {
            if (onClientConnect)
                onClientConnect(*this, *connection, 0);
        } catch (...) {
            connection->abortConnection();
            continue;
        }
        // The request usually comes with the connection: read it now rather
        // than on the next pass of the event loop.
        connection->readReady();
    }
}

bool THttpServer::makeRoom() {
    if (int(connections_.size()) < maxConnections_)
        return true;
    // Closed connections stay in the list until their closing notice is
    // handled; only open ones count.
    int open = 0;
    for (const THttpConnection* connection : connections_)
        open += connection->isConnected() ? 1 : 0;
    if (open < maxConnections_)
        return true;
    THttpConnection* longest = nullptr;
    for (THttpConnection* connection : connections_) {
        if (connection->isIdle() && (!longest || connection->idleMs() > longest->idleMs()))
            longest = connection;
    }
    if (!longest)
        return false;
    longest->abortConnection();
    return true;
}

void THttpServer::clientClosed(THttpConnection* connection) {
    const auto it = std::find(connections_.begin(), connections_.end(), connection);
    if (it == connections_.end())
        return;
    try {
        if (onClientDisconnect)
            onClientDisconnect(*this, *connection, 0);
    } catch (...) {
        // the connection is gone either way
    }
    connections_.erase(std::find(connections_.begin(), connections_.end(), connection));
    // A handler of this connection that runs a nested event loop is still on
    // the stack; the object must outlive it.
    if (connection->isBusy())
        connection->deleteLater();
    else
        delete connection;
}

bool THttpServer::event(QEvent* event) {
    if (event->type() == clientClosedEventType()) {
        clientClosed(static_cast<ClientClosedEvent*>(event)->connection);
        return true;
    }
    return QObject::event(event);
}

} // namespace webserver
