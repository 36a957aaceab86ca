#include "app/single_instance.h"

#include "platform/paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalSocket>

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

// Beside the socket, which a plain name puts in the temporary folder.
QString lockFilePath(const QString& name) {
    return QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral(".lock");
}
} // namespace

QString SingleInstance::serverName() {
    const QByteArray hash =
        QCryptographicHash::hash(platform::homeFolder().toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("Pagora-") + QString::fromLatin1(hash.toHex().left(24));
}

SingleInstance::RunningCopy SingleInstance::askRunningCopy(const QString& name, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return RunningCopy::None;
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
    const QByteArray path = QFile::encodeName(lockFilePath(name));
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
            lockPath_ = lockFilePath(name);
            return true;
        }
        ::close(fd);
    }
    return false;
}

bool SingleInstance::listen(const QString& name) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
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
    const int fd = ::open(QFile::encodeName(lockFilePath(name)).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

bool SingleInstance::peerIsSameUser(qintptr socketDescriptor) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        size != sizeof peer)
        return false;
    return peer.uid == ::geteuid();
}

void SingleInstance::answer() {
    while (QLocalSocket* client = server_.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        // The socket file's permissions keep other users out, except root;
        // the peer's credentials settle it for every caller.
        if (!peerIsSameUser(client->socketDescriptor())) {
            client->abort();
            client->deleteLater();
            continue;
        }
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
