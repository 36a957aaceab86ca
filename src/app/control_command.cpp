#include "app/control_command.h"

#include "app/control_requests.h"
#include "app/single_instance.h"
#include "platform/private_folder.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <cstdio>

namespace app {

namespace {

constexpr int StartingCopyWaitMs = 10000; // a copy that holds the claim but does not listen yet
constexpr int AnswerWaitMs = 10000;
constexpr int CancelWaitMs = 30000; // a cancelled run ends within seconds

void printError(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

int notRunning() {
    printError("Pagorama is not running");
    return ExitNotRunning;
}

int refused(const QString& refusal) {
    printError(("Pagorama: " + refusal).toUtf8().constData());
    return 1;
}

// The answer as text a terminal shows as it is: control characters other
// than line ends and tabs (escape sequences, bells, ...) become U+FFFD, as
// do bytes that are not UTF-8.
QByteArray printable(const QByteArray& answer) {
    QString text = QString::fromUtf8(answer);
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\n') &&
            c != QLatin1Char('\t'))
            c = QChar::ReplacementCharacter;
    return text.toUtf8();
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

// Sends one request to the running copy of this user and gives back the text
// of its answer; anything but 0 is the exit status, its message printed.
int exchange(const QByteArray& request, QByteArray* answer) {
    const QString name = SingleInstance::serverName();
    // Only a folder, socket and copy of this user are talked to; nothing is
    // sent before the other end is known to be one.
    QString refusal;
    switch (platform::preparePrivateFolder(QFileInfo(name).path(), platform::MakeMissing::No,
                                           &refusal)) {
    case platform::PrivateFolder::Missing:
        return notRunning();
    case platform::PrivateFolder::Refused:
        return refused(refusal);
    case platform::PrivateFolder::Ready:
        break;
    }
    if (!SingleInstance::ownFiles(name, &refusal))
        return refused(refusal);
    QLocalSocket socket;
    switch (connectToRunningCopy(socket, name)) {
    case Connection::Made:
        refusal = SingleInstance::peerRefusal(name, socket.socketDescriptor());
        if (!refusal.isEmpty())
            return refused(refusal);
        break;
    case Connection::NoCopy:
        return notRunning();
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
    *answer = printable(reply.mid(int(qstrlen(AcceptedAnswer))));
    return 0;
}

void print(const QByteArray& text) {
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

// A cancel returns once the run has ended, so what the user does next (a
// new refresh, a quit) meets no run.
int waitForTheRunToEnd() {
    QDeadlineTimer deadline(CancelWaitMs);
    while (!deadline.hasExpired()) {
        QByteArray status;
        if (const int failed = exchange(StatusRequest, &status))
            return failed;
        if (status.contains("No refresh is running")) {
            print("Refresh cancelled\n");
            return 0;
        }
        QThread::msleep(50);
    }
    printError("The refresh has not ended yet");
    return 1;
}

} // namespace

int sendControlRequest(const QByteArray& request) {
    QByteArray text;
    if (const int failed = exchange(request, &text))
        return failed;
    print(text);
    if (request == CancelRequest && text.startsWith("Cancelling"))
        return waitForTheRunToEnd();
    return 0;
}

} // namespace app
