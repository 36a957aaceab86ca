// The limits on clients that hold a connection without using it: one that
// sends no complete request in time, or stops taking its answer, is let go,
// and an idle one may be closed to make room for another client.
#include "webserver/http_connection.h"
#include "webserver/http_server.h"

#include <algorithm>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace webserver {

namespace {

// Bytes written to the socket that the client has not yet taken; -1 when
// the system cannot tell.
int unsentBytes(int fd) {
    int queued = 0;
    return ::ioctl(fd, SIOCOUTQ, &queued) == 0 ? queued : -1;
}

// How often a blocked answer's buffer is looked at. The client's system
// takes a first part of the answer at once, whether or not the client reads
// it; seen only at the end of the answer time, that would count as taking
// it then and give the client a second answer time.
int answerLookInterval(int answerTimeoutMs) {
    return std::max(answerTimeoutMs / 60, 25);
}

} // namespace

bool THttpConnection::isIdle() const {
    if (fd_ < 0 || busy_ > 0)
        return false;
    return lingering_ || (watching_ == Watch::Request && !bodyAccepted_ && state() != csProcessing);
}

// Waits for a complete request, for the next byte of an accepted body, or
// for the client to close after a refusal.
void THttpConnection::watchRequest() {
    if (!bodyAccepted_ || lingering_)
        idleSince_.start();
    watch(Watch::Request,
          server_ ? server_->requestTimeoutMs() : THttpServer::DefaultRequestTimeoutMs);
}

void THttpConnection::stopWatchingRequest() {
    if (watching_ != Watch::Request)
        return;
    watching_ = Watch::None; // the server's timer finds nothing due for it
    idleSince_.invalidate();
}

// The client stopped taking its answer: it has answerTimeout from now, and
// from each later time it takes some of it.
void THttpConnection::watchAnswer() {
    if (watching_ == Watch::Answer)
        return;
    lastProgress_.start();
    unsentAtCheck_ = unsentBytes(fd_);
    watch(Watch::Answer, answerLookInterval(server_ ? server_->answerTimeoutMs()
                                                    : THttpServer::DefaultAnswerTimeoutMs));
}

void THttpConnection::expireWatch() {
    ++busy_;
    try {
        watchExpired();
    } catch (...) {
        abortConnection();
    }
    --busy_;
}

void THttpConnection::watchExpired() {
    if (fd_ < 0)
        return;
    const Watch expired = watching_;
    watching_ = Watch::None;
    if (busy_ > 1) {
        // A handler of this connection is still at work (its own event
        // loop runs this); the client is not the one waiting.
        watch(expired, 1000);
        return;
    }
    if (expired == Watch::Request) {
        abortConnection();
        return;
    }
    if (expired != Watch::Answer || (outputSent_ >= output_.size() && !stream_))
        return; // not blocked any more; a later block watches again
    // The system wakes a blocked writer only once much of its buffer is
    // free, so a slow reader is seen by what it took from the socket.
    const int unsent = unsentBytes(fd_);
    if (unsent >= 0 && unsent < unsentAtCheck_)
        lastProgress_.start();
    unsentAtCheck_ = unsent;
    const int limit = server_ ? server_->answerTimeoutMs() : THttpServer::DefaultAnswerTimeoutMs;
    const qint64 quiet = lastProgress_.elapsed();
    if (quiet >= limit) {
        // Reset rather than close: a closed socket would keep the unread
        // answer in the system's buffers for minutes.
        const linger reset{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        abortConnection();
    } else {
        watch(Watch::Answer, int(std::min<qint64>(limit - quiet, answerLookInterval(limit))));
    }
}

} // namespace webserver
