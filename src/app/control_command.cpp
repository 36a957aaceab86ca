#include "app/control_command.h"

#include "app/control_requests.h"
#include "app/single_instance.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>

#include <cstdio>

namespace app {

namespace {

constexpr int StartingCopyWaitMs = 10000; // a copy that holds the claim but does not listen yet
constexpr int AnswerWaitMs = 10000;

void printError(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

enum class Connection { Made, NoCopy, NotAllowed };

Connection connectToRunningCopy(QLocalSocket& socket, const QString& name) {
    QDeadlineTimer deadline(StartingCopyWaitMs);
    for (;;) {
        socket.connectToServer(name);
        if (socket.waitForConnected(2000))
            return Connection::Made;
        if (socket.error() == QLocalSocket::SocketAccessError)
            return Connection::NotAllowed;
        // No socket, or one that nobody listens on: a copy that is starting
        // holds the claim already and listens in a moment.
        if (!SingleInstance::claimHeld(name) || deadline.hasExpired())
            return Connection::NoCopy;
        socket.abort();
        QThread::msleep(100);
    }
}

} // namespace

int sendControlRequest(const QByteArray& request) {
    const QString name = SingleInstance::serverName();
    QLocalSocket socket;
    switch (connectToRunningCopy(socket, name)) {
    case Connection::Made:
        break;
    case Connection::NoCopy:
        printError("Pagorama is not running");
        return ExitNotRunning;
    case Connection::NotAllowed:
        printError("Pagorama is running, but does not take requests from this user");
        return 1;
    }
    socket.write(request + '\n');
    socket.waitForBytesWritten(AnswerWaitMs);
    // The answer ends when the running copy closes the connection.
    QByteArray reply;
    QDeadlineTimer deadline(AnswerWaitMs);
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        reply += socket.readAll();
    }
    reply += socket.readAll();
    if (!reply.startsWith(AcceptedAnswer)) {
        printError("Pagorama is running, but did not answer the request");
        return 1;
    }
    const QByteArray text = reply.mid(int(qstrlen(AcceptedAnswer)));
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace app
