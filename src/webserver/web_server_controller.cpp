#include "webserver/web_server_controller.h"

#include "platform/message_service.h"
#include "platform/settings_model.h"
#include "webserver/startup_banner.h"

namespace webserver {

WebServerController::WebServerController(QObject* parent, const QString& logFilePath)
    : QObject(parent), log_(this, logFilePath), server_(this) {
    server_.onServerStarted = [this](THttpServer&) {
        log_.logLine(QStringLiteral("Server is waiting for connections"));
        emit listeningChanged(true);
    };
    server_.onServerStopped = [this](THttpServer&) {
        log_.logLine(QStringLiteral("Server stopped"));
        emit listeningChanged(false);
    };
    server_.onClientConnect = [this](THttpServer& server, THttpConnection&, int) {
        emit clientCountChanged(server.connectionCount());
    };
    // The closing connection still counts while this runs.
    server_.onClientDisconnect = [this](THttpServer& server, THttpConnection& connection, int) {
        if (postHandler_)
            postHandler_->connectionClosed(connection);
        emit clientCountChanged(server.connectionCount() - 1);
    };
    server_.onGetDocument = [this](THttpServer&, THttpConnection& connection, THttpGetFlag&) {
        getDocument(connection);
    };
    server_.onHeadDocument = [this](THttpServer&, THttpConnection& connection, THttpGetFlag&) {
        headDocument(connection);
    };
    server_.onPostDocument = [this](THttpServer&, THttpConnection& connection,
                                    THttpGetFlag& flags) { flags = postDocument(connection); };
    server_.onPostedData = [this](THttpServer&, THttpConnection& connection, int error) {
        if (postHandler_)
            postHandler_->postedData(connection, error);
    };
    server_.onAdmitRequest = [this](THttpServer&, THttpConnection& connection,
                                    QByteArray& explanation) {
        return admitRequest(connection, explanation);
    };
    server_.setAddr(bindAddress(share_));
}

QString WebServerController::bindAddress(bool share) {
    return share ? QStringLiteral("0.0.0.0") : QStringLiteral("127.0.0.1");
}

bool WebServerController::setShareOnNetwork(bool on) {
    share_ = on;
    try {
        server_.setAddr(bindAddress(on));
    } catch (const std::exception&) {
        platform::showMessage(QString::fromLatin1(StartErrorText), QStringLiteral("Pagorama"),
                              platform::MessageKind::Error);
        return false;
    }
    return true;
}

const MachineNames& WebServerController::machineNames() {
    // Addresses change (a new network, a new lease); reading them costs a
    // few system calls, so once every few seconds at most.
    if (!machineRead_.isValid() || machineRead_.elapsed() > 5000) {
        machine_ = MachineNames::current();
        machineRead_.start();
    }
    return machine_;
}

bool WebServerController::admitRequest(THttpConnection& connection, QByteArray& explanation) {
    // The mapped path matters only for a client of another machine, which
    // only a shared server answers; only then is it made into text.
    const QString document = share_ ? connection.document() : QString();
    const Refusal refusal = CheckRequestAccess(
        connection.peerAddr(), connection.request(), server_.docDir, document, share_,
        [this]() -> const MachineNames& { return machineNames(); });
    if (refusal == Refusal::None)
        return true;
    explanation = RefusalAnswerText(refusal);
    log_.logLine(QStringLiteral("[%1 %2] Refused %3 %4: %5")
                     .arg(log_.clock().toString(QStringLiteral("HH:mm:ss")), connection.peerAddr(),
                          QString::fromLatin1(connection.method().left(16)),
                          QString::fromUtf8(connection.path().left(200)),
                          RefusalText(refusal, connection.request())));
    return false;
}

bool WebServerController::start(const QString& portText, const QString& docDir,
                                const QString& defaultDoc) {
    server_.docDir = docDir;
    server_.defaultDoc = defaultDoc;
    try {
        server_.setPort(portText.trimmed());
        server_.startServer();
    } catch (const std::exception&) {
        platform::showMessage(QString::fromLatin1(StartErrorText), QStringLiteral("Pagorama"),
                              platform::MessageKind::Error);
        return false;
    }
    return true;
}

void WebServerController::stop() {
    server_.stopServer();
}

void WebServerController::logHeaders(const THttpConnection& connection) {
    if (!displayHeader_)
        return;
    int number = 0;
    for (const QByteArray& line : connection.headerLines())
        log_.logLine(QStringLiteral("HDR%1) %2").arg(++number).arg(logText(line)));
}

void WebServerController::getDocument(THttpConnection& connection) {
    const int number = nextRequestNumber();
    log_.logRequest(ServerLog::RequestKind::Get, number, connection.peerAddr(), connection.path());
    logHeaders(connection);
}

void WebServerController::headDocument(THttpConnection& connection) {
    const int number = nextRequestNumber();
    log_.logRequest(ServerLog::RequestKind::Head, number, connection.peerAddr(), connection.path());
}

THttpGetFlag WebServerController::postDocument(THttpConnection& connection) {
    const int number = nextRequestNumber();
    log_.logLine(QStringLiteral("%1: POST %2").arg(number).arg(logText(connection.path())));
    logHeaders(connection);
    return postHandler_ ? postHandler_->postDocument(connection) : gfNotFound;
}

void WebServerController::writeBanner() {
    log_.clearDisplay();
    for (const QString& line : startupBanner())
        log_.logLine(line);
}

void WebServerController::saveTo(platform::SettingsModel& settings) const {
    settings.serverPort = lastStartedPort();
    settings.docDir = docDir();
    settings.defaultDoc = defaultDoc();
}

} // namespace webserver
