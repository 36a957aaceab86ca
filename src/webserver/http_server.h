#pragma once
// The built-in HTTP server: one listening socket on the main event loop that
// accepts any number of clients and serves files below a document folder,
// handing each request to the owner's handlers first.
#include "webserver/http_connection.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QHash>
#include <QObject>
#include <QString>
#include <deque>
#include <netinet/in.h>
#include <functional>
#include <stdexcept>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace webserver {

// A failure to start listening; the message names the failing step.
class ServerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class THttpServer : public QObject {
    Q_OBJECT
public:
    using ConnectHandler = std::function<void(THttpServer&, THttpConnection&, int error)>;
    using DocumentHandler = std::function<void(THttpServer&, THttpConnection&, THttpGetFlag&)>;
    using PostedDataHandler = std::function<void(THttpServer&, THttpConnection&, int error)>;
    using NotifyHandler = std::function<void(THttpServer&)>;
    // Decides whether a complete request is answered at all; false answers
    // it 403, with the sentence left in explanation, and closes. Called
    // before the method's handler.
    using AdmitHandler =
        std::function<bool(THttpServer&, THttpConnection&, QByteArray& explanation)>;

    // Limits of clients that hold a connection without using it.
    static constexpr int DefaultRequestTimeoutMs = 30000; // no complete request
    static constexpr int DefaultAnswerTimeoutMs = 60000;  // answer not read
    static constexpr int DefaultMaxConnections = 500;

    explicit THttpServer(QObject* parent = nullptr);
    ~THttpServer() override;

    // Settings. Changing port or address while listening listens again.
    QString port() const { return port_; }
    void setPort(const QString& port);
    QString addr() const { return addr_; }
    void setAddr(const QString& addr);
    QString docDir; // no trailing separator
    QString defaultDoc = QStringLiteral("index.html");
    // QFile::encodeName(defaultDoc), made again only when defaultDoc changes.
    const QByteArray& defaultDocName();

    // Handlers, all called on the main thread.
    NotifyHandler onServerStarted, onServerStopped;
    ConnectHandler onClientConnect, onClientDisconnect;
    DocumentHandler onGetDocument, onHeadDocument, onPostDocument;
    PostedDataHandler onPostedData;
    AdmitHandler onAdmitRequest;

    // A client that sends no complete request (or no body byte of an
    // accepted post) within requestTimeoutMs, or takes no byte of its answer
    // within answerTimeoutMs, is disconnected. Tests shorten them.
    int requestTimeoutMs() const { return requestTimeoutMs_; }
    void setRequestTimeoutMs(int ms) { requestTimeoutMs_ = ms; }
    int answerTimeoutMs() const { return answerTimeoutMs_; }
    void setAnswerTimeoutMs(int ms) { answerTimeoutMs_ = ms; }
    // At most this many open connections. A new client beyond it takes the
    // place of the one that has waited longest without asking anything;
    // when every connection is busy it is answered 503.
    int maxConnections() const { return maxConnections_; }
    // DefaultMaxConnections, or fewer where the process may not open that
    // many descriptors: the rest (64) stay for files, the browser's pipes
    // and the program's other sockets, so a connection is always refused
    // or made room for rather than left waiting in the queue.
    static int connectionLimit();
    void setMaxConnections(int count) { maxConnections_ = count; }

    // Throws ServerError; does nothing when already listening.
    void startServer();
    // Closes the listening socket and aborts every connection.
    void stopServer();
    bool isListening() const { return listenFd_ >= 0; }
    // The port actually bound (useful when the port text was "0").
    quint16 listeningPort() const { return boundPort_; }
    // Live connections; one still counts while its disconnect handler runs.
    // A connection's record is kept for a later client once its client is
    // gone: a handler must not hold on to it beyond that.
    int connectionCount() const { return int(connections_.size()); }
    const std::vector<THttpConnection*>& connections() const { return connections_; }
    // docDir with symbolic links resolved, recomputed when docDir changes.
    QString canonicalDocDir();
    // A descriptor of docDir for opening files below it, or -1. It is opened
    // again when docDir changes, and at least every second, so a folder
    // moved away and made anew is followed.
    int docDirFd();

    // The deferred operations of a connection. They are queued and handled
    // in the order posted, all that wait in one pass of the event loop.
    enum class Deferred : quint8 { Close, ResponseDone, DataSent, RawData, ClientClosed };

protected:
    bool event(QEvent* event) override;

private:
    friend class THttpConnection;
    void acceptReady();
    void closeListening(bool notify);
    void clientClosed(THttpConnection* connection);
    THttpConnection* newConnection();
    void retire(THttpConnection* connection);
    void recycleRetired();
    bool makeRoom();

    // The clients' sockets are watched through one epoll set, which the
    // event loop watches as a single descriptor: a client coming and going
    // changes nothing the event loop polls.
    quint64 addConnection(THttpConnection* connection);
    void removeConnection(quint64 serial);
    void watchSocket(THttpConnection* connection, bool read, bool write);
    void unwatchSocket(THttpConnection* connection);
    void socketsReady();
    void defer(THttpConnection* connection, Deferred what);
    void runDeferred();
    void runStepsOfBatch();
    // The watches of all connections (no request in time, answer not
    // read) share one timer, set for the earliest time one is due.
    qint64 clockMs() const { return clock_.elapsed(); }
    void scheduleWatch(qint64 deadline);
    void watchesDue();

    struct DeferredStep {
        quint64 serial; // of the connection; a step of one since deleted is dropped
        Deferred what;
    };
    int epollFd_ = -1;
    QSocketNotifier* epollNotifier_ = nullptr;
    QHash<quint64, THttpConnection*> live_; // by serial
    quint64 nextSerial_ = 0;
    std::deque<DeferredStep> deferred_;
    bool deferredPosted_ = false; // an event runs the steps (see runDeferred)
    QTimer* stepsTimer_ = nullptr; // runs the steps on the next pass
    QElapsedTimer clock_;
    QTimer* watchTimer_ = nullptr;
    qint64 watchTimerDeadline_ = 0;

    QString port_ = QStringLiteral("80");
    QString addr_ = QStringLiteral("0.0.0.0");
    int listenFd_ = -1;
    quint16 boundPort_ = 0;
    QSocketNotifier* acceptNotifier_ = nullptr;
    std::vector<THttpConnection*> connections_; // owned, in accept order
    // Records of clients that are gone, ready for the next ones; those still
    // in use by a handler on the stack wait in retired_ until it returns.
    std::vector<THttpConnection*> spare_, retired_;
    bool destroying_ = false;
    QString canonicalFor_, canonical_;
    QString defaultDocNameFor_;
    in_addr lastPeer_{};
    QString lastPeerText_;
    QByteArray defaultDocName_;
    int docDirFd_ = -1;
    QString docDirFdFor_;
    QElapsedTimer docDirFdAge_;
    int requestTimeoutMs_ = DefaultRequestTimeoutMs;
    int answerTimeoutMs_ = DefaultAnswerTimeoutMs;
    int maxConnections_ = connectionLimit();
};

} // namespace webserver
