#include "app/single_instance.h"

#include "platform/paths.h"
#include "platform/private_folder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {
const QByteArray Request = "forward\n";
const QByteArray AnswerShown = "shown\n";
const QByteArray AnswerMinimised = "minimised\n";
// A request line longer than this is not one of ours.
constexpr qint64 MaxRequestLine = 64;
// A connection that has not sent its request line by then is closed, so
// idle connections cannot pile up.
constexpr int RequestWaitMs = 5000;
const char RequestDeadline[] = "requestDeadline";
} // namespace

QString SingleInstance::serverName() {
    const QByteArray hash =
        QCryptographicHash::hash(platform::homeFolder().toUtf8(), QCryptographicHash::Sha256);
    return platform::controlFolder() + QStringLiteral("/Pagora-") +
           QString::fromLatin1(hash.toHex().left(24));
}

QString SingleInstance::lockPath(const QString& name) {
    return name + QStringLiteral(".lock");
}

SingleInstance::RunningCopy SingleInstance::askRunningCopy(const QString& name, int timeoutMs,
                                                           QString* refusal) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return RunningCopy::None;
    const QString foreign = peerRefusal(name, socket.socketDescriptor());
    if (!foreign.isEmpty()) {
        if (refusal)
            *refusal = foreign;
        return RunningCopy::Foreign;
    }
    socket.write(Request);
    if (!socket.waitForBytesWritten(timeoutMs))
        return RunningCopy::None;
    QByteArray reply;
    while (!reply.endsWith('\n')) {
        if (!socket.waitForReadyRead(timeoutMs))
            break;
        reply += socket.readAll();
    }
    if (reply == AnswerShown)
        return RunningCopy::Shown;
    if (reply == AnswerMinimised)
        return RunningCopy::Minimised;
    // A copy that accepted the connection but did not answer is busy or
    // dying; treat it as running and out of sight.
    return RunningCopy::Minimised;
}

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::answer);
}

SingleInstance::~SingleInstance() {
    if (lockFd_ < 0)
        return;
    // Removed while still held, so the next copy makes a fresh one and no
    // copy can be holding a lock on a file that is gone.
    ::unlink(QFile::encodeName(lockPath_).constData());
    ::close(lockFd_);
}

bool SingleInstance::claim(const QString& name) {
    if (lockFd_ >= 0)
        return true;
    refusal_.clear();
    if (platform::preparePrivateFolder(QFileInfo(name).path(), platform::MakeMissing::Yes,
                                       &refusal_) != platform::PrivateFolder::Ready ||
        !platform::ownEntryOrNone(lockPath(name), &refusal_))
        return false;
    const QByteArray path = QFile::encodeName(lockPath(name));
    for (int attempt = 0; attempt < 10; ++attempt) {
        // Close-on-exec: the renderer and other children must not keep the
        // claim alive after this copy has gone.
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return true; // no place for a lock: listen() then decides alone
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        // A copy that was ending may have removed the file between the open
        // and the lock: the lock only counts on the file that is there now.
        struct stat held {
        }, current{};
        if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &current) == 0 &&
            held.st_dev == current.st_dev && held.st_ino == current.st_ino) {
            lockFd_ = fd;
            lockPath_ = lockPath(name);
            return true;
        }
        ::close(fd);
    }
    return false;
}

bool SingleInstance::listen(const QString& name) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    refusal_.clear();
    if (!platform::ownEntryOrNone(name, &refusal_))
        return false;
    if (lockFd_ >= 0) {
        QLocalServer::removeServer(name); // no live copy can be behind it
        return server_.listen(name);
    }
    // Without a lock, a socket file is removed only when nobody answers on it.
    if (server_.listen(name))
        return true;
    if (askRunningCopy(name, 1000) != RunningCopy::None)
        return false;
    QLocalServer::removeServer(name);
    return server_.listen(name);
}

bool SingleInstance::claimHeld(const QString& name) {
    if (!platform::ownEntryOrNone(lockPath(name), nullptr))
        return false;
    const int fd =
        ::open(QFile::encodeName(lockPath(name)).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

bool SingleInstance::ownFiles(const QString& name, QString* refusal) {
    return platform::ownEntryOrNone(name, refusal) &&
           platform::ownEntryOrNone(lockPath(name), refusal);
}

QString SingleInstance::peerRefusal(const QString& name, qintptr socketDescriptor) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        size != sizeof peer)
        return QStringLiteral("refusing %1: the process at the other end is unknown").arg(name);
    if (peer.uid != ::geteuid())
        return QStringLiteral("refusing %1: the copy there runs as another user (uid %2)")
            .arg(name)
            .arg(peer.uid);
    return {};
}

void SingleInstance::answer() {
    while (QLocalSocket* client = server_.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        // The socket file's permissions keep other users out, except root;
        // the peer's credentials settle it for every caller.
        if (!peerRefusal(server_.fullServerName(), client->socketDescriptor()).isEmpty()) {
            client->abort();
            client->deleteLater();
            continue;
        }
        auto* deadline = new QTimer(client);
        deadline->setObjectName(QLatin1String(RequestDeadline));
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, client, [client] {
            client->abort();
            client->deleteLater();
        });
        deadline->start(RequestWaitMs);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { handle(client); });
    }
}

void SingleInstance::handle(QLocalSocket* client) {
    if (!client->canReadLine()) {
        if (client->bytesAvailable() > MaxRequestLine)
            client->abort();
        return;
    }
    const QByteArray request = client->readLine(MaxRequestLine + 1);
    // Each connection carries one request; what follows it is not read.
    disconnect(client, &QLocalSocket::readyRead, this, nullptr);
    delete client->findChild<QTimer*>(QLatin1String(RequestDeadline), Qt::FindDirectChildrenOnly);
    QByteArray reply;
    if (request == Request) {
        const bool shown = comeForward && comeForward();
        reply = shown ? AnswerShown : AnswerMinimised;
    } else if (control && request.endsWith('\n')) {
        reply = control(request.chopped(1));
    }
    client->write(reply);
    client->flush();
    client->disconnectFromServer();
}

} // namespace app
