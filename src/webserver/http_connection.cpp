#include "webserver/http_connection.h"

#include "webserver/document_path.h"
#include "webserver/file_stream.h"
#include "webserver/http_answer.h"
#include "webserver/http_server.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace webserver {

namespace {

constexpr qsizetype ReadSize = 65536;

// Reads the next chunk of an answer at the end of the output queue, which
// keeps its room from one chunk to the next; false when the stream is done.
// A short file takes no more room than it needs.
bool appendChunk(QIODevice& stream, QByteArray& output) {
    qint64 wanted = THttpConnection::ChunkSize;
    if (!stream.isSequential()) {
        const qint64 left = stream.bytesAvailable();
        if (left > 0)
            wanted = std::min(wanted, left);
    }
    const qsizetype start = output.size();
    output.resize(start + wanted);
    const qint64 read = stream.read(output.data() + start, wanted);
    output.resize(start + std::max<qint64>(read, 0));
    return read > 0;
}

// A file answer that the system sends straight from the file, if it can.
FileStream* directFile(QIODevice* stream) {
    auto* file = dynamic_cast<FileStream*>(stream);
    return file && file->direct() ? file : nullptr;
}

} // namespace

THttpConnection::THttpConnection() = default;

void THttpConnection::clear() {
    // A record whose socket is closed has nothing to give back to the
    // server. Member by member as a new record has them, except that the
    // buffers and the spare file stream are kept for the next client.
    server_ = nullptr;
    fd_ = -1;
    serial_ = 0;
    wantRead_ = wantWrite_ = inEpoll_ = false;
    peerAddr_.clear();
    docDir_.clear();
    defaultDoc_.clear();
    below_.clear();
    mapped_ = false;
    document_.clear();
    documentMade_ = false;
    // The request's fields are made anew by the next client's request line;
    // until then nothing reads them.
    parser_.setState(csAwaitRequest);
    parser_.request().headerBytes = 0;
    input_.clear();
    lineMode_ = true;
    bodyAccepted_ = rawDeliveryPosted_ = emptyBodyNotice_ = false;
    dropStream(); // a file answer's stream becomes the spare one
    documentSecs_ = -1;
    documentContentType_.clear();
    output_.clear();
    outputSent_ = 0;
    endingResponse_ = closeWhenFlushed_ = peerGone_ = closing_ = sendingShut_ = false;
    busy_ = 0;
    lingering_ = unreadMaybe_ = false;
    watching_ = Watch::None;
    watchDeadline_ = 0;
    idleSince_.invalidate();
    lastProgress_.invalidate();
    unsentAtCheck_ = -1;
}

const QString& THttpConnection::document() const {
    if (!documentMade_) {
        documentMade_ = true;
        document_ = mapped_ ? docDir_ + QFile::decodeName(below_) : QString();
    }
    return document_;
}

THttpConnection::~THttpConnection() {
    if (server_) {
        server_->unwatchSocket(this);
        server_->removeConnection(serial_);
    }
    if (fd_ >= 0)
        ::close(fd_);
}

void THttpConnection::attach(THttpServer* server, int fd, const QString& peerAddr) {
    server_ = server;
    fd_ = fd;
    peerAddr_ = peerAddr;
    docDir_ = server->docDir;
    defaultDoc_ = server->defaultDoc;
    serial_ = server->addConnection(this);
    wantRead_ = true;
    watchSocket();
    watchRequest();
}

void THttpConnection::watch(Watch what, int ms) {
    watching_ = what;
    // One timer of the server serves every connection's watch.
    if (server_) {
        watchDeadline_ = server_->clockMs() + std::max(ms, 1);
        server_->scheduleWatch(watchDeadline_);
    }
}

void THttpConnection::waitForRoom() {
    if (!wantWrite_) {
        wantWrite_ = true;
        watchSocket();
    }
}

void THttpConnection::deferStep(int what) {
    if (server_)
        server_->defer(this, THttpServer::Deferred(what));
}

void THttpConnection::watchSocket() {
    if (server_ && fd_ >= 0)
        server_->watchSocket(this, wantRead_, wantWrite_);
}

template <typename Work> void THttpConnection::guarded(Work&& work) {
    // An error while handling this client's event ends only this client.
    ++busy_;
    try {
        work();
    } catch (...) {
        abortConnection();
    }
    --busy_;
}

void THttpConnection::readReady() {
    guarded([this] {
        if (fd_ < 0)
            return;
        const bool raw = !lineMode_ || (state() == csProcessing && bodyAccepted_);
        // Raw bytes wait for the handler; read more only once those are taken.
        if (raw && input_.pending().size() >= ReadSize) {
            deliverRaw();
            return;
        }
        char buffer[ReadSize];
        const ssize_t received = ::recv(fd_, buffer, sizeof buffer, 0);
        if (received < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                closeNow();
            return;
        }
        if (received == 0) {
            peerClosed();
            return;
        }
        // A full buffer may have left more behind in the socket.
        if (received == ReadSize)
            unreadMaybe_ = true;
        if (state() == csProcessing && !bodyAccepted_) {
            unreadMaybe_ = true;
            return; // nobody wants bytes while an answer is under way
        }
        if (raw) {
            // Each arrival of an accepted body gives the client time for the next.
            if (bodyAccepted_ && !lingering_ && watching_ == Watch::Request)
                watchRequest();
            input_.pending().append(buffer, received);
            deliverRaw();
            return;
        }
        input_.append(buffer, received);
        QByteArrayView line;
        while (fd_ >= 0 && lineMode_ && state() != csProcessing && input_.nextLine(&line))
            handleLine(line);
        if (state() == csProcessing && !bodyAccepted_ && !input_.isEmpty()) {
            unreadMaybe_ = true;
            input_.takeAll();
        }
    });
}

void THttpConnection::handleLine(QByteArrayView line) {
    if (state() == csAwaitRequest)
        bodyAccepted_ = false;
    switch (parser_.takeLine(line)) {
    case RequestParser::Outcome::TooLarge:
        abortConnection();
        break;
    case RequestParser::Outcome::Dispatch:
        dispatch();
        break;
    default:
        break;
    }
}

void THttpConnection::dispatch() {
    stopWatchingRequest();
    std::optional<QByteArray> below = mapRequestPath(server_ && defaultDoc_ == server_->defaultDoc
                                                         ? server_->defaultDocName()
                                                         : QFile::encodeName(defaultDoc_),
                                                     path());
    mapped_ = below.has_value();
    below_ = mapped_ ? std::move(*below) : QByteArray();
    documentMade_ = false;
    if (!request().versionValid) {
        answerStatusAndClose(400, "Bad Request");
        return;
    }
    QByteArray refusal;
    if (server_->onAdmitRequest && !server_->onAdmitRequest(*server_, *this, refusal)) {
        answerStatusAndClose(403, "Forbidden", refusal);
        return;
    }
    const QByteArray& verb = method();
    const bool get = verb == "GET";
    if (get || verb == "HEAD") {
        THttpGetFlag flags = gfServeFile;
        const auto& handler = get ? server_->onGetDocument : server_->onHeadDocument;
        if (handler)
            handler(*server_, *this, flags);
        switch (flags) {
        case gfServeFile:
            serveDocument(get);
            break;
        case gfSendStream:
            sendResponseStream();
            break;
        case gfAnswerSelf:
            break;
        case gfNotFound:
            answerNotFound();
            closeDeferred();
            break;
        default:
            closeDeferred();
            break;
        }
        return;
    }
    if (verb == "POST") {
        THttpGetFlag flags = gfNotFound;
        if (server_->onPostDocument)
            server_->onPostDocument(*server_, *this, flags);
        if (flags == gfNotFound) {
            answerNotFound();
            closeDeferred();
        } else if (flags == gfAcceptBody) {
            qint64 length = 0;
            switch (checkPostBody(request(), &length)) {
            case BodyVerdict::LengthRequired:
                answerStatusAndClose(411, "Length Required");
                return;
            case BodyVerdict::BadRequest:
                answerStatusAndClose(400, "Bad Request");
                return;
            case BodyVerdict::TooLarge:
                answerStatusAndClose(413, "Payload Too Large");
                return;
            case BodyVerdict::Empty:
            case BodyVerdict::Accept:
                break;
            }
            bodyAccepted_ = true;
            watchRequest();
            // An empty body is complete at once; bytes that came with the
            // header are handed over from the event loop.
            if (length == 0 || !input_.isEmpty()) {
                emptyBodyNotice_ = length == 0;
                if (!rawDeliveryPosted_) {
                    rawDeliveryPosted_ = true;
                    deferStep(int(THttpServer::Deferred::RawData));
                }
            }
        }
        return;
    }
    answerNotFound();
    closeDeferred();
}

namespace {

bool isAscii(const QByteArray& bytes) {
    for (const char c : bytes)
        if (uchar(c) >= 0x80)
            return false;
    return true;
}

} // namespace

void THttpConnection::serveDocument(bool withBody) {
    OpenedDocument opened;
    // Below the server's own folder, files open through its descriptor. A
    // path of ASCII bytes is the same file name whether taken as bytes or
    // as text, so it opens without making the text.
    const bool belowServerFolder =
        server_ && mapped_ && below_.size() > 1 && docDir_ == server_->docDir;
    const bool plainName = belowServerFolder && isAscii(below_);
    OpenResult result = OpenResult::Missing;
    const int folderFd = plainName ? server_->docDirFd() : -1;
    if (folderFd >= 0 && openDocumentBeneath(folderFd, below_.constData() + 1, &opened)) {
        result = OpenResult::Opened;
    } else if (plainName) {
        result = openDocument(document(), canonicalDocDir(), &opened);
    } else if (mapped_) {
        const bool throughFolder = belowServerFolder && document().size() > docDir_.size() + 1;
        result = openDocument(document(), canonicalDocDir(), &opened,
                              throughFolder ? server_->docDirFd() : -1,
                              throughFolder ? docDir_.size() + 1 : -1);
    }
    if (result == OpenResult::Opened) {
        sendFileResponse(withBody, opened, plainName);
    } else if (result == OpenResult::Unreadable && !withBody) {
        abortConnection(); // HEAD tests only existence; the failed open ends it
    } else {
        answerNotFound();
        closeDeferred();
    }
}

QString THttpConnection::canonicalDocDir() const {
    return server_ && docDir_ == server_->docDir ? server_->canonicalDocDir()
                                                 : QFileInfo(docDir_).canonicalFilePath();
}

void THttpConnection::sendFileResponse(bool withBody, const OpenedDocument& opened,
                                       bool plainName) {
    // The header and the file leave in as few packets as they fill, the
    // last one carrying the end of the answer: what does not fill a packet
    // waits until the sending side is shut down at the end of the answer
    // (or, should the answer stall, for a moment at most).
    const int cork = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &cork, sizeof cork);
    documentSecs_ = opened.modifiedSecs;
    documentContentType_ = plainName ? ContentTypeOfName(below_) : ContentTypeOf(document());
    // HEAD announces the length and sends none of it.
    dropStream();
    const qint64 length = withBody ? opened.size : 0;
    if (spareFile_) {
        spareFile_->reopen(opened.fd, length);
        stream_ = std::move(spareFile_);
    } else {
        stream_ = std::make_unique<FileStream>(opened.fd, length);
    }
    streamIsOwnFile_ = true;
    output_ += fileAnswerHeader(version(), documentContentType_, opened.size, opened.modifiedSecs);
    sendResponseStream();
}

void THttpConnection::setResponseStream(std::unique_ptr<QIODevice> stream) {
    dropStream();
    stream_ = std::move(stream);
}

void THttpConnection::dropStream() {
    if (!streamIsOwnFile_) {
        stream_.reset();
        return;
    }
    // A file answer's stream is kept for the next one: making and
    // destroying it costs more than the rest of a small answer's work.
    streamIsOwnFile_ = false;
    auto* file = static_cast<FileStream*>(stream_.release());
    file->close();
    spareFile_.reset(file);
}

void THttpConnection::sendResponseStream() {
    stopWatchingRequest();
    if (!stream_) {
        closeDeferred();
        return;
    }
    if (fd_ < 0)
        return;
    if (directFile(stream_.get())) {
        pump(); // the header, then the file as far as the socket takes it
        return;
    }
    // A stream read to its end in the first chunk (most pages and pictures)
    // ends the answer as soon as the socket has taken it.
    if (!appendChunk(*stream_, output_) || stream_->atEnd()) {
        dropStream();
        endingResponse_ = true;
    }
    if (flushQueue() == Flush::Drained) {
        if (endingResponse_)
            pump();
        else
            deferStep(int(THttpServer::Deferred::DataSent));
    }
}

// Writes queued bytes and keeps reading and sending chunks while the socket
// takes them; stops when it would block (the write notifier resumes it).
void THttpConnection::pump() {
    while (fd_ >= 0) {
        if (outputSent_ < output_.size() && flushQueue() != Flush::Drained)
            return;
        if (stream_) {
            if (FileStream* file = directFile(stream_.get())) {
                const FileStream::Sent sent = file->sendTo(fd_, DirectSendSize);
                if (sent == FileStream::Sent::WouldBlock) {
                    waitForRoom();
                    watchAnswer();
                    return;
                }
                if (sent == FileStream::Sent::Some && watching_ == Watch::Answer)
                    lastProgress_.start();
                if (sent == FileStream::Sent::Failed) {
                    abortConnection();
                    return;
                }
                if (sent != FileStream::Sent::Done)
                    continue;
            } else if (appendChunk(*stream_, output_)) {
                continue;
            }
            dropStream();
            endingResponse_ = true;
        }
        if (endingResponse_) {
            endingResponse_ = false;
            output_.clear(); // its room is not needed until the connection closes
            if (closesAtAnswerEnd()) {
                // The close sends what is corked and ends the connection in
                // one step, as the deferred step would have a moment later.
                parser_.setState(csAwaitRequest);
                closeNow();
                return;
            }
            shutdownSending();
            deferStep(int(THttpServer::Deferred::ResponseDone));
        } else if (closeWhenFlushed_) {
            closeGracefully();
        }
        return;
    }
}

void THttpConnection::writeReady() {
    guarded([this] {
        if (wantWrite_) {
            wantWrite_ = false;
            watchSocket();
        }
        pump();
    });
}

THttpConnection::Flush THttpConnection::flushQueue() {
    while (outputSent_ < output_.size()) {
        // While a stream has more to come, let the system fill whole packets;
        // the shut-down at the end of the answer pushes out the rest.
        const int more = stream_ || endingResponse_ ? MSG_MORE : 0;
        const ssize_t sent = ::send(fd_, output_.constData() + outputSent_,
                                    size_t(output_.size() - outputSent_), MSG_NOSIGNAL | more);
        if (sent > 0) {
            outputSent_ += sent;
            if (watching_ == Watch::Answer)
                lastProgress_.start();
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitForRoom();
            watchAnswer();
            return Flush::Blocked;
        }
        // The peer is gone (reset, not connected, sending direction shut
        // down) or the socket failed: this connection ends either way.
        abortConnection();
        return Flush::Closed;
    }
    output_.resize(0);
    outputSent_ = 0;
    return Flush::Drained;
}

void THttpConnection::queueBytes(const QByteArray& bytes) {
    if (fd_ < 0)
        return;
    stopWatchingRequest();
    output_ += bytes;
    flushQueue();
}

void THttpConnection::answerNotFound() {
    queueBytes(notFoundAnswer(version(), path()));
}

void THttpConnection::answerStatusAndClose(int code, const QByteArray& reason,
                                           const QByteArray& explanation) {
    queueBytes(statusAnswer(version(), code, reason, explanation));
    lingering_ = true;
    closeDeferred();
}

void THttpConnection::setLineMode(bool on) {
    lineMode_ = on;
    if (!on && !input_.isEmpty() && !rawDeliveryPosted_) {
        rawDeliveryPosted_ = true;
        deferStep(int(THttpServer::Deferred::RawData));
    }
}

void THttpConnection::deliverRaw() {
    if (fd_ < 0)
        return;
    if (!bodyAccepted_ || !server_->onPostedData) {
        input_.takeAll();
        return;
    }
    if (emptyBodyNotice_) {
        emptyBodyNotice_ = false;
        server_->onPostedData(*server_, *this, 0);
    }
    while (fd_ >= 0 && !input_.isEmpty()) {
        const qsizetype before = input_.pending().size();
        server_->onPostedData(*server_, *this, 0);
        if (input_.pending().size() == before) {
            input_.takeAll(); // the handler wants no more
            break;
        }
    }
}

qint64 THttpConnection::receiveRaw(char* buffer, qint64 size) {
    if (size <= 0)
        return 0;
    QByteArray& pending = input_.pending();
    const qint64 copied = std::min<qint64>(size, pending.size());
    if (copied > 0) {
        std::memcpy(buffer, pending.constData(), size_t(copied));
        pending.remove(0, copied);
        if (pending.isEmpty())
            input_.takeAll();
        return copied;
    }
    if (fd_ < 0)
        return -1;
    const ssize_t received = ::recv(fd_, buffer, size_t(size), 0);
    return received > 0 ? received : (received == 0 ? 0 : -1);
}

void THttpConnection::closeDeferred() {
    if (fd_ < 0 || closing_)
        return;
    closing_ = true;
    if (server_)
        deferStep(int(THttpServer::Deferred::Close));
    else
        closeGracefully();
}

void THttpConnection::abortConnection() {
    output_.clear();
    outputSent_ = 0;
    dropStream();
    closeNow();
}

void THttpConnection::responseDone() {
    parser_.setState(csAwaitRequest);
    if (peerGone_ || closeWhenFlushed_) {
        closeNow();
        return;
    }
    // Not kept alive: close now, this is already the deferred step.
    if (request().connection.compare("Keep-Alive", Qt::CaseInsensitive) != 0)
        closeGracefully();
    else
        watchRequest();
}

bool THttpConnection::closesAtAnswerEnd() const {
    // A close with bytes of the client still unread would reset the
    // connection and could take the answer with it; only a connection with
    // nothing left to read, not kept alive, closes at once. A request that
    // announced a body may have more of it on the way.
    if (unreadMaybe_ || lingering_ || bodyAccepted_ || !lineMode_ || !input_.isEmpty() ||
        request().hasContentLength)
        return false;
    return peerGone_ || closeWhenFlushed_ ||
           request().connection.compare("Keep-Alive", Qt::CaseInsensitive) != 0;
}

void THttpConnection::closeGracefully() {
    if (fd_ < 0)
        return;
    if (stream_ || endingResponse_ || outputSent_ < output_.size()) {
        closeWhenFlushed_ = true;
        return;
    }
    shutdownSending();
    if (lingering_ && !peerGone_) {
        // Read and drop until the client closes, for a limited time.
        watchRequest();
        return;
    }
    closeNow();
}

void THttpConnection::shutdownSending() {
    if (!sendingShut_)
        ::shutdown(fd_, SHUT_WR);
    sendingShut_ = true;
}

void THttpConnection::peerClosed() {
    peerGone_ = true;
    if (wantRead_) {
        wantRead_ = false;
        watchSocket();
    }
    // A partial line pending at the end is the last line.
    if (lineMode_ && state() != csProcessing && !input_.isEmpty())
        handleLine(input_.takeAll());
    if (fd_ < 0)
        return;
    // Let an answer under way finish; the client may still be reading.
    if (stream_ || endingResponse_ || outputSent_ < output_.size())
        closeWhenFlushed_ = true;
    else
        closeNow();
}

void THttpConnection::closeNow() {
    if (fd_ < 0)
        return;
    closing_ = true;
    // Closing the socket takes it out of the server's epoll set; the system
    // may hand the descriptor to the next client.
    wantRead_ = wantWrite_ = false;
    inEpoll_ = false;
    watching_ = Watch::None;
    ::close(fd_);
    fd_ = -1;
    dropStream();
    deferStep(int(THttpServer::Deferred::ClientClosed));
}

void THttpConnection::runDeferred(int what) {
    switch (THttpServer::Deferred(what)) {
    case THttpServer::Deferred::Close:
        guarded([this] { closeGracefully(); });
        break;
    case THttpServer::Deferred::ResponseDone:
        guarded([this] { responseDone(); });
        break;
    case THttpServer::Deferred::DataSent:
        guarded([this] { pump(); });
        break;
    case THttpServer::Deferred::RawData:
        rawDeliveryPosted_ = false;
        guarded([this] { deliverRaw(); });
        break;
    case THttpServer::Deferred::ClientClosed:
        break; // the server's own step
    }
}

} // namespace webserver
