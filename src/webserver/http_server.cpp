#include "webserver/http_server.h"

#include "webserver/document_path.h"
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
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
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

// The one event that runs the queued deferred steps.
static int deferredStepsEventType() {
    static int type = 0;
    return registered(&type);
}

THttpServer::THttpServer(QObject* parent) : QObject(parent) {
    clock_.start();
    watchTimer_ = new QTimer(this);
    watchTimer_->setSingleShot(true);
    connect(watchTimer_, &QTimer::timeout, this, [this] { watchesDue(); });
    stepsTimer_ = new QTimer(this);
    stepsTimer_->setSingleShot(true);
    connect(stepsTimer_, &QTimer::timeout, this, [this] { runDeferred(); });
    // Files go to the socket through sendfile, which has no MSG_NOSIGNAL: a
    // client that resets its connection must not end the program.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::signal(SIGPIPE, SIG_IGN);
}

THttpServer::~THttpServer() {
    destroying_ = true;
    closeListening(false);
    // The records close their sockets when deleted; no handler runs for
    // them any more.
    std::vector<THttpConnection*> owned = connections_;
    owned.insert(owned.end(), retired_.begin(), retired_.end());
    for (THttpConnection* connection : owned) {
        connection->server_ = nullptr;
        if (!connection->isBusy()) {
            delete connection;
        } else if (connection->fd_ >= 0) {
            // A handler of it is still on the stack (a nested event loop):
            // it is closed and left to that handler rather than freed under it.
            ::close(connection->fd_);
            connection->fd_ = -1;
        }
    }
    for (THttpConnection* connection : spare_)
        delete connection;
    if (epollFd_ >= 0)
        ::close(epollFd_);
    if (docDirFd_ >= 0)
        ::close(docDirFd_);
}

QString THttpServer::canonicalDocDir() {
    if (canonicalFor_ != docDir || canonical_.isEmpty()) {
        canonicalFor_ = docDir;
        canonical_ = QFileInfo(docDir).canonicalFilePath();
    }
    return canonical_;
}

const QByteArray& THttpServer::defaultDocName() {
    if (defaultDocNameFor_ != defaultDoc || defaultDocName_.isNull()) {
        defaultDocNameFor_ = defaultDoc;
        defaultDocName_ = QFile::encodeName(defaultDoc);
    }
    return defaultDocName_;
}

int THttpServer::docDirFd() {
    if (docDirFdFor_ != docDir || !docDirFdAge_.isValid() || docDirFdAge_.hasExpired(1000)) {
        if (docDirFd_ >= 0)
            ::close(docDirFd_);
        docDirFd_ = openDocumentFolder(docDir);
        docDirFdFor_ = docDir;
        docDirFdAge_.start();
    }
    return docDirFd_;
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

    if (epollFd_ < 0) {
        epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (epollFd_ < 0)
            throw ServerError(lastError("Socket").toStdString());
        epollNotifier_ = new QSocketNotifier(epollFd_, QSocketNotifier::Read, this);
        connect(epollNotifier_, &QSocketNotifier::activated, this, [this] { socketsReady(); });
    }
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
    // A batch at a time: clients that come back as fast as they are served
    // would otherwise keep this loop going while the connections already
    // answered wait for the event loop to close them.
    constexpr int AcceptBatch = 64;
    for (int taken = 0; listenFd_ >= 0 && taken < AcceptBatch; ++taken) {
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
        // Clients mostly come from one address again and again.
        if (peer.sin_addr.s_addr != lastPeer_.s_addr || lastPeerText_.isEmpty()) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
            lastPeer_ = peer.sin_addr;
            lastPeerText_ = QString::fromLatin1(text);
        }
        THttpConnection* connection = newConnection();
        connections_.push_back(connection);
        connection->attach(this, fd, lastPeerText_);
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
    runStepsOfBatch();
}

int THttpServer::connectionLimit() {
    rlimit descriptors{};
    if (::getrlimit(RLIMIT_NOFILE, &descriptors) != 0 || descriptors.rlim_cur == RLIM_INFINITY)
        return DefaultMaxConnections;
    const rlim_t room = descriptors.rlim_cur > 64 + 1 ? descriptors.rlim_cur - 64 : 1;
    return int(std::min<rlim_t>(room, DefaultMaxConnections));
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

quint64 THttpServer::addConnection(THttpConnection* connection) {
    const quint64 serial = ++nextSerial_;
    live_.insert(serial, connection);
    return serial;
}

void THttpServer::removeConnection(quint64 serial) {
    live_.remove(serial);
}

void THttpServer::watchSocket(THttpConnection* connection, bool read, bool write) {
    // Level-triggered, as socket notifiers are: a socket still readable or
    // writable is reported again on the next pass.
    epoll_event wanted{};
    wanted.events = (read ? EPOLLIN : 0u) | (write ? EPOLLOUT : 0u);
    wanted.data.u64 = connection->serial_;
    if (!read && !write) {
        unwatchSocket(connection);
    } else if (::epoll_ctl(epollFd_, connection->inEpoll_ ? EPOLL_CTL_MOD : EPOLL_CTL_ADD,
                           connection->fd_, &wanted) == 0) {
        connection->inEpoll_ = true;
    }
}

void THttpServer::unwatchSocket(THttpConnection* connection) {
    if (connection->inEpoll_ && epollFd_ >= 0 && connection->fd_ >= 0)
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, connection->fd_, nullptr);
    connection->inEpoll_ = false;
}

void THttpServer::socketsReady() {
    constexpr int Batch = 64;
    epoll_event ready[Batch];
    const int count = ::epoll_wait(epollFd_, ready, Batch, 0);
    for (int i = 0; i < count; ++i) {
        // Looked up each time: an earlier client's handler may have ended
        // this one.
        const quint64 serial = ready[i].data.u64;
        const uint32_t events = ready[i].events;
        THttpConnection* connection = live_.value(serial, nullptr);
        if (connection && connection->wantRead_ && (events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
            connection->readReady();
        connection = live_.value(serial, nullptr);
        if (connection && connection->wantWrite_ && (events & (EPOLLOUT | EPOLLHUP | EPOLLERR)))
            connection->writeReady();
    }
    runStepsOfBatch();
}

void THttpServer::runStepsOfBatch() {
    // The handlers of the batch have all returned, which is all a deferred
    // step waits for: running the steps now spares the event loop a pass
    // for them. The timer stays the way for steps queued anywhere else.
    if (deferred_.empty() || !stepsTimer_->isActive())
        return;
    stepsTimer_->stop();
    runDeferred();
}

void THttpServer::scheduleWatch(qint64 deadline) {
    if (watchTimer_->isActive() && watchTimerDeadline_ <= deadline)
        return; // due later than the one already set
    watchTimerDeadline_ = deadline;
    watchTimer_->start(int(std::max<qint64>(deadline - clockMs(), 0)));
}

void THttpServer::watchesDue() {
    const auto watched = [](const THttpConnection* c) {
        return c->fd_ >= 0 && c->watching_ != THttpConnection::Watch::None;
    };
    // A copy: a connection let go stays in the list until its closing step,
    // but the list itself must not change under the loop.
    const std::vector<THttpConnection*> current = connections_;
    const qint64 now = clockMs();
    for (THttpConnection* connection : current) {
        if (watched(connection) && connection->watchDeadline_ <= now)
            connection->expireWatch();
    }
    qint64 next = -1;
    for (const THttpConnection* connection : connections_) {
        if (watched(connection) && (next < 0 || connection->watchDeadline_ < next))
            next = connection->watchDeadline_;
    }
    watchTimer_->stop();
    if (next >= 0)
        scheduleWatch(next);
}

void THttpServer::defer(THttpConnection* connection, Deferred what) {
    deferred_.push_back({connection->serial_, what});
    // The steps run on the next pass of the event loop. A timer due at once
    // takes them there without waking the loop through its wake-up
    // descriptor, as a posted event does: this runs on the loop's own thread.
    if (!deferredPosted_ && !stepsTimer_->isActive())
        stepsTimer_->start(0);
}

void THttpServer::runDeferred() {
    deferredPosted_ = false;
    recycleRetired();
    while (!deferred_.empty()) {
        const DeferredStep step = deferred_.front();
        deferred_.pop_front();
        // A step that runs a nested event loop lets that loop go on with
        // the rest of the queue (the timer running this one would not fire
        // inside it). A client's closing notice only tells the owner, whose
        // handler runs no loop, and needs no such care.
        if (!deferred_.empty() && !deferredPosted_ && step.what != Deferred::ClientClosed) {
            deferredPosted_ = true;
            QCoreApplication::postEvent(this, new QEvent(QEvent::Type(deferredStepsEventType())));
        }
        THttpConnection* connection = live_.value(step.serial, nullptr);
        if (!connection)
            continue; // deleted since: its steps go with it
        if (step.what == Deferred::ClientClosed)
            clientClosed(connection);
        else
            connection->runDeferred(int(step.what));
    }
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
    removeConnection(connection->serial_);
    retire(connection);
}

THttpConnection* THttpServer::newConnection() {
    if (spare_.empty())
        return new THttpConnection;
    THttpConnection* connection = spare_.back();
    spare_.pop_back();
    return connection;
}

void THttpServer::retire(THttpConnection* connection) {
    // A handler of this connection that runs a nested event loop is still on
    // the stack; the record must outlive it unchanged.
    if (connection->isBusy()) {
        retired_.push_back(connection);
        return;
    }
    // As many records are kept as clients came at once, up to the limit.
    if (int(spare_.size()) >= maxConnections_) {
        delete connection;
        return;
    }
    connection->clear();
    spare_.push_back(connection);
}

void THttpServer::recycleRetired() {
    if (retired_.empty())
        return;
    std::vector<THttpConnection*> waiting;
    waiting.swap(retired_);
    for (THttpConnection* connection : waiting)
        retire(connection);
}

bool THttpServer::event(QEvent* event) {
    if (event->type() == deferredStepsEventType()) {
        runDeferred();
        return true;
    }
    return QObject::event(event);
}

} // namespace webserver
