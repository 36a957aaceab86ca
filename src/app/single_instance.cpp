#include "app/single_instance.h"

#include "platform/paths.h"

#include <QCryptographicHash>
#include <QLocalSocket>

namespace app {

namespace {
const QByteArray Request = "forward\n";
const QByteArray AnswerShown = "shown\n";
const QByteArray AnswerMinimised = "minimised\n";
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

bool SingleInstance::listen(const QString& name) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (server_.listen(name))
        return true;
    // Nobody answered on the name (the caller asked first), so the socket
    // file is a leftover of a copy that ended without cleaning up.
    QLocalServer::removeServer(name);
    return server_.listen(name);
}

void SingleInstance::answer() {
    while (QLocalSocket* client = server_.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine())
                return;
            const QByteArray request = client->readLine();
            if (request != Request) {
                client->disconnectFromServer();
                return;
            }
            const bool shown = comeForward && comeForward();
            client->write(shown ? AnswerShown : AnswerMinimised);
            client->flush();
            client->disconnectFromServer();
        });
    }
}

} // namespace app
