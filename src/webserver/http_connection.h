#pragma once
// One client of the HTTP server: a non-blocking socket watched through the
// server's epoll set on the main event loop. It reads request lines, hands
// complete requests to the server's handlers and streams answers from a
// stream in chunks, so a file is never held in memory whole.
//
// A plain record that the server owns: once its client is gone it is
// cleared and kept for the next client, so a connection costs no object
// made and destroyed.
#include "webserver/document_path.h"
#include "webserver/file_stream.h"
#include "webserver/http_request.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QIODevice>
#include <QString>
#include <memory>

namespace webserver {

class THttpServer;

// What the server does once a document handler returns.
enum THttpGetFlag : quint8 {
    gfServeFile = 0,  // serve the file named by document()
    gfSendStream = 1, // send responseStream(), which holds the complete answer
    gfAnswerSelf = 2, // the handler answers; the server does nothing
    gfNotFound = 3,   // send the 404 answer
    gfAcceptBody = 4, // POST only: the body goes to the posted-data handler
};

class THttpConnection {
public:
    // An answer goes from its stream to the socket this much at a time, as
    // long as the socket takes it.
    static constexpr int ChunkSize = 65536;
    // A file sent by the system straight from the file passes through no
    // buffer of ours: each call offers this much and the socket takes what
    // room it has, so a large file needs few calls.
    static constexpr qint64 DirectSendSize = 16 * 1024 * 1024;

    THttpConnection();
    ~THttpConnection();
    THttpConnection(const THttpConnection&) = delete;
    THttpConnection& operator=(const THttpConnection&) = delete;

    // Request fields.
    THttpConnectionState state() const { return parser_.state(); }
    const HttpRequest& request() const { return parser_.request(); }
    const QByteArray& method() const { return request().method; }
    const QByteArray& path() const { return request().path; }
    const QByteArray& params() const { return request().params; }
    const QByteArray& version() const { return request().version; }
    const QList<QByteArray>& headerLines() const { return request().headerLines; }
    qint32 contentLength() const { return request().contentLength; }
    bool bodyAccepted() const { return bodyAccepted_; }
    // Native path mapped from path(); empty when the path was refused.
    // Made when first asked for: serving a file needs only the bytes.
    const QString& document() const;
    const QString& docDir() const { return docDir_; }
    const QString& defaultDoc() const { return defaultDoc_; }
    const QString& peerAddr() const { return peerAddr_; }
    QDateTime documentDate() const {
        return documentSecs_ < 0 ? QDateTime()
                                 : QDateTime::fromSecsSinceEpoch(documentSecs_, Qt::UTC);
    }
    const QByteArray& documentContentType() const { return documentContentType_; }
    bool isConnected() const { return fd_ >= 0; }
    THttpServer* server() const { return server_; }
    // True while one of this connection's events is being handled.
    bool isBusy() const { return busy_ > 0; }
    // True while the client holds the connection without a request under
    // way: it may be closed to make room for another client.
    bool isIdle() const;
    // Milliseconds this connection has been waiting for a request.
    qint64 idleMs() const { return idleSince_.isValid() ? idleSince_.elapsed() : 0; }

    // Operations for handlers.
    void setResponseStream(std::unique_ptr<QIODevice> stream);
    QIODevice* responseStream() const { return stream_.get(); }
    // Sends responseStream() to its end, then ends the answer; without a
    // stream the connection is closed.
    void sendResponseStream();
    // Sends the 404 answer; does not close.
    void answerNotFound();
    // Sends a short status answer (400, 403, 411, 413, ...) and closes
    // afterwards; what the client still sends is read and dropped until it
    // closes, so the close does not reset the answer away.
    void answerStatusAndClose(int code, const QByteArray& reason,
                              const QByteArray& explanation = {});
    // Switching line mode off delivers pending and later bytes raw.
    void setLineMode(bool on);
    bool lineMode() const { return lineMode_; }
    // Copies up to size received bytes, first those already buffered, then
    // from the socket. Returns the count, or 0 or less when nothing was read.
    qint64 receiveRaw(char* buffer, qint64 size);
    // Closes from the event loop once the current event is done and the
    // queued bytes are written.
    void closeDeferred();
    // Drops what is queued and closes at once.
    void abortConnection();

    // Set up by the server after accept.
    void attach(THttpServer* server, int fd, const QString& peerAddr);
    // Reads whatever is waiting (the server calls this right after accept).
    void readReady();

private:
    friend class THttpServer;
    enum class Flush { Drained, Blocked, Closed };
    enum class Watch { None, Request, Answer };

    // Back to the state of a new record, for the next client. Only for a
    // record whose socket is closed. A member added below must be reset
    // there too.
    void clear();
    void dropStream();
    void handleLine(QByteArrayView line);
    void dispatch();
    void serveDocument(bool withBody);
    void sendFileResponse(bool withBody, const OpenedDocument& opened, bool plainName);
    QString canonicalDocDir() const;
    void deliverRaw();
    void queueBytes(const QByteArray& bytes);
    Flush flushQueue();
    void pump();
    void writeReady();
    void responseDone();
    void peerClosed();
    void closeNow();
    void closeGracefully();
    bool closesAtAnswerEnd() const;
    void shutdownSending();
    void waitForRoom();
    template <typename Work> void guarded(Work&& work);
    void watch(Watch what, int ms);
    void watchRequest();
    void watchAnswer();
    void stopWatchingRequest();
    void watchExpired();
    void expireWatch(); // watchExpired, guarded
    void watchSocket();
    void deferStep(int what);
    void runDeferred(int what);

    THttpServer* server_ = nullptr;
    int fd_ = -1;
    quint64 serial_ = 0;     // the server's name for this connection
    bool wantRead_ = false;  // watching the socket for bytes to read
    bool wantWrite_ = false; // watching it for room to write
    bool inEpoll_ = false;   // in the server's epoll set
    QString peerAddr_, docDir_, defaultDoc_;
    // The mapped path below docDir_ (see mapRequestPath), when mapped_.
    QByteArray below_;
    bool mapped_ = false;
    mutable QString document_;
    mutable bool documentMade_ = false;

    RequestParser parser_;
    LineSplitter input_;
    bool lineMode_ = true;
    bool bodyAccepted_ = false;
    bool rawDeliveryPosted_ = false;
    bool emptyBodyNotice_ = false; // raise the posted-data handler once for an empty body

    std::unique_ptr<QIODevice> stream_;
    bool streamIsOwnFile_ = false; // stream_ is a FileStream of sendFileResponse
    std::unique_ptr<FileStream> spareFile_;
    qint64 documentSecs_ = -1; // the served file's last change, in seconds since 1970
    QByteArray documentContentType_;

    QByteArray output_;           // bytes waiting for the socket
    qsizetype outputSent_ = 0;    // of output_, already written
    bool endingResponse_ = false; // stream done: shut down once output_ is written
    bool closeWhenFlushed_ = false;
    bool peerGone_ = false; // the client closed its side
    bool closing_ = false;  // closed, or a close is pending
    bool sendingShut_ = false;
    int busy_ = 0;             // depth of this object's own event handling
    bool lingering_ = false;   // answered and closing: input is dropped
    bool unreadMaybe_ = false; // the client may have sent bytes not read

    Watch watching_ = Watch::None;
    qint64 watchDeadline_ = 0;   // on the server's clock, while watching_
    QElapsedTimer idleSince_;    // valid while waiting for a request
    QElapsedTimer lastProgress_; // the client last took bytes of its answer
    int unsentAtCheck_ = -1;     // of the socket's buffer, at the last look
};

} // namespace webserver
