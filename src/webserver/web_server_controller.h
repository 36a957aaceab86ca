#pragma once
// The program's side of the built-in web server, without widgets: it starts
// and stops the server, counts clients and requests, logs each request and
// keeps the server log. The configuration window shows its state and calls
// it from its controls.
#include "webserver/http_server.h"
#include "webserver/request_guard.h"
#include "webserver/server_log.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace platform {
class SettingsModel;
}

namespace webserver {

// Receives the form posts (the edit actions). The request line and header
// lines are already logged when postDocument is called.
class PostHandler {
public:
    virtual ~PostHandler() = default;
    // gfAcceptBody takes the body through postedData (switch the
    // connection's line mode off first); gfNotFound answers 404.
    virtual THttpGetFlag postDocument(THttpConnection& connection) = 0;
    // Called each time body bytes can be read with receiveRaw; with an
    // empty body (Content-Length 0) it is called once with nothing to read.
    virtual void postedData(THttpConnection& connection, int error) = 0;
    // The connection's client is gone and its record will serve another:
    // forget what is kept for it.
    virtual void connectionClosed(THttpConnection&) {}
};

class WebServerController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* StartErrorText =
        "Unable to start internal Web server. Try choosing a different Web Server Port.";

    explicit WebServerController(QObject* parent = nullptr, const QString& logFilePath = QString());

    THttpServer& server() { return server_; }
    ServerLog& log() { return log_; }

    // The start procedure: port text trimmed; on failure the error box is
    // shown and false returned.
    bool start(const QString& portText, const QString& docDir,
               const QString& defaultDoc = QStringLiteral("viewer.htm"));
    void stop();
    bool isListening() const { return server_.isListening(); }

    // Off: the server listens on the loopback interface only and answers
    // this machine only. On: it listens on every interface; the history
    // pages and the form posts still answer this machine only. Changing it
    // while listening listens again at once; false (after the start error
    // box) when that fails.
    bool shareOnNetwork() const { return share_; }
    bool setShareOnNetwork(bool on);
    // The address bound for the current setting.
    static QString bindAddress(bool share);

    int clientCount() const { return server_.connectionCount(); }
    int requestCount() const { return requestCount_; }
    // Raises the request count by one and returns it (every logged request).
    int nextRequestNumber() { return ++requestCount_; }

    bool displayHeader() const { return displayHeader_; }
    void setDisplayHeader(bool on) { displayHeader_ = on; }
    // Logs the request's header lines when "Display Header" is on.
    void logHeaders(const THttpConnection& connection);

    // Clears the display and writes the start-up banner.
    void writeBanner();

    void setPostHandler(PostHandler* handler) { postHandler_ = handler; }

    // The server settings of the last start, which the settings file keeps.
    QString lastStartedPort() const { return server_.port(); }
    QString docDir() const { return server_.docDir; }
    QString defaultDoc() const { return server_.defaultDoc; }
    void saveTo(platform::SettingsModel& settings) const;

signals:
    void clientCountChanged(int count);
    // true: the port box and start button are locked and stop is enabled.
    void listeningChanged(bool listening);

private:
    void getDocument(THttpConnection& connection);
    void headDocument(THttpConnection& connection);
    THttpGetFlag postDocument(THttpConnection& connection);
    bool admitRequest(THttpConnection& connection, QByteArray& explanation);
    const MachineNames& machineNames();

    ServerLog log_;
    THttpServer server_;
    int requestCount_ = 0;
    bool displayHeader_ = false;
    PostHandler* postHandler_ = nullptr;
    bool share_ = false;
    MachineNames machine_; // read again when older than a few seconds
    QElapsedTimer machineRead_;
};

} // namespace webserver
