#pragma once
// The site probe's own minimal HTTP/1.1 client. One request per connection
// ("Connection: close"); the answer's header lines and body stay in the
// client until the next request. An "https://" address is fetched over TLS
// with the server's certificate verified (tls_connection.h); whether such
// addresses are fetched at all is the probe's decision. On the main thread, events keep flowing
// while it waits; on any other thread it simply blocks.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <stdexcept>

namespace catalogue {

// The kinds of failure, each with the probe result code it maps to.
enum class HttpErrorKind {
    TimedOut = -1,
    Canceled = -2,
    Server = -3,
    Message = -4,
    Transfer = -5,
    Mime = -6,
    Client = -7,
    Certificate = -96, // an https server whose certificate fails verification
    Other = -99,       // socket failures: name not found, connection refused, ...
};

class HttpClientError : public std::runtime_error {
public:
    HttpClientError(HttpErrorKind kind, const QString& message)
        : std::runtime_error(message.toStdString()), kind_(kind) {}
    HttpErrorKind kind() const { return kind_; }
    int code() const { return static_cast<int>(kind_); }

private:
    HttpErrorKind kind_;
};

} // namespace catalogue

// The failures a dead or slow favourite causes every day: a socket that
// cannot connect or breaks (name not found, connection refused) and a wait
// that ran out. They carry the class names that the exception log's ignore
// list names, so the log keeps only the client's unexpected failures
// (message, transfer, MIME and server errors). A request the program itself
// gives up (a cancel, a close, work ahead of the run dropped) is no failure
// either.
class ESocketError : public catalogue::HttpClientError {
public:
    explicit ESocketError(const QString& message)
        : HttpClientError(catalogue::HttpErrorKind::Other, message) {}
};

class ETimedOutError : public catalogue::HttpClientError {
public:
    explicit ETimedOutError(const QString& message)
        : HttpClientError(catalogue::HttpErrorKind::TimedOut, message) {}
};

class ECanceledError : public catalogue::HttpClientError {
public:
    ECanceledError() : HttpClientError(catalogue::HttpErrorKind::Canceled, QStringLiteral("Canceled")) {}
};

namespace catalogue {

class WaitNotice;

class TSiteHttpClient {
public:
    static constexpr int DefaultTimeoutMs = 60000;
    // At most this much of a body is kept; the rest is not read.
    static constexpr qsizetype MaxBodyBytes = 8 * 1024 * 1024;
    // Header lines above this total end the request with a message error.
    static constexpr qsizetype MaxHeaderBytes = 1024 * 1024;

    TSiteHttpClient();

    // Sends one request and reads the answer; throws HttpClientError. A
    // failed request leaves no header lines and no body.
    void head(const QString& url) { request("HEAD", url); }
    void get(const QString& url) { request("GET", url); }
    void request(const QByteArray& method, const QString& url);

    // Header lines in arrival order, the status line first.
    const QStringList& headerLines() const { return headers_; }
    const QByteArray& body() const { return body_; }
    // The second blank-separated word of the status line; -1 when there is
    // no status line or that word is not a number.
    int statusCode() const;
    // Forgets the last answer.
    void clearResponse() {
        headers_.clear();
        body_.clear();
    }

    // Time without progress after which connecting or reading gives up.
    // Tests shorten it; the program keeps the default.
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }
    int timeoutMs() const { return timeoutMs_; }
    // The time-out new clients start with (tests).
    static void setDefaultTimeoutMs(int ms);

    // Makes the request in progress fail as cancelled, and every later one
    // at once, without connecting, until resetCancel(): a probe that was
    // cancelled sends nothing more. Safe from any thread.
    void cancel() { canceled_ = true; }
    void resetCancel() { canceled_ = false; }
    bool canceled() const {
        return canceled_ || generation_ != cancelGeneration() || (cancelWhen_ && cancelWhen_());
    }
    // A client of the main thread may also be cancelled by a condition,
    // looked at while it waits (on its own thread).
    void cancelWhen(std::function<bool()> condition) { cancelWhen_ = std::move(condition); }
    // Told of every wait for the server on a thread other than the main
    // thread (may be null).
    void setWaitNotice(WaitNotice* notice) { waitNotice_ = notice; }

    // cancel() for every client that exists now, on any thread (the program
    // is ending). Clients made afterwards are not affected.
    static void cancelEveryClient();

    // The request text sent for a method and address (exposed for tests).
    static QByteArray requestText(const QByteArray& method, const QString& url);
    struct Address {
        QString host;
        quint16 port = 80;
        QString path;
        bool secure = false; // "https://": TLS, port 443 unless one is given
    };
    static Address splitAddress(const QString& url);

private:
    void exchange(const QByteArray& method, const QString& url);

    static int cancelGeneration();

    int timeoutMs_;
    std::atomic<bool> canceled_{false};
    int generation_; // the cancelGeneration() at construction
    std::function<bool()> cancelWhen_;
    WaitNotice* waitNotice_ = nullptr;
    QStringList headers_;
    QByteArray body_;
};

} // namespace catalogue
