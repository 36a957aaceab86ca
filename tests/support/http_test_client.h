#pragma once
// A small blocking HTTP client over real sockets for server tests. The
// server under test runs on the test's main thread, so the client's work
// runs on a thread of its own while runWithEventLoop keeps the main
// thread's event loop going.
#include <QByteArray>
#include <QList>

#include <functional>

namespace testsupport {

// Makes sure a QCoreApplication exists (socket notifiers need one).
void ensureCoreApplication();

// Runs work on another thread while this thread's event loop runs; returns
// when work has returned.
void runWithEventLoop(const std::function<void()>& work);

// Runs this thread's event loop until done() holds or timeoutMs pass;
// returns done().
bool processUntil(const std::function<bool()>& done, int timeoutMs = 10000);

struct HttpReply {
    QByteArray raw;        // every byte received
    QByteArray statusLine; // without CR LF
    QList<QByteArray> headerLines;
    QByteArray body;
    bool complete = false; // a blank line ended the header
    // Value of a header (name without case), empty when absent.
    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
};
HttpReply parseReply(const QByteArray& raw);

class HttpTestClient {
public:
    // Connects to 127.0.0.1:port; every later wait ends after timeoutMs.
    explicit HttpTestClient(quint16 port, int timeoutMs = 10000);
    // Connects to another address of this machine (dotted IPv4).
    HttpTestClient(const QByteArray& address, quint16 port, int timeoutMs = 10000);
    ~HttpTestClient();
    HttpTestClient(const HttpTestClient&) = delete;
    HttpTestClient& operator=(const HttpTestClient&) = delete;

    bool isConnected() const { return fd_ >= 0; }
    // The errno of a failed connect (ECONNREFUSED, ...), 0 when connected.
    int connectError() const { return connectError_; }
    bool send(const QByteArray& bytes);
    // Reads until the server closes (or the time-out); returns what came.
    QByteArray readToEnd();
    // Reads at least n bytes (or until close or time-out).
    QByteArray readAtLeast(qsizetype n);
    // True when the server has closed its sending side (end of stream seen).
    bool sawEnd() const { return sawEnd_; }
    // True when bytes of the answer have arrived (without waiting or taking them).
    bool hasBytesWaiting() const;
    // Closes the sending direction (the server sees the end of the request stream).
    void shutdownSending();
    // Closes with a reset instead of the orderly close.
    void abort();
    void setReceiveBuffer(int bytes);

private:
    void connectTo(const QByteArray& address, quint16 port, int timeoutMs);
    int fd_ = -1;
    int connectError_ = 0;
    bool sawEnd_ = false;
};

// Connects, sends request and reads the answer to its end.
HttpReply fetch(quint16 port, const QByteArray& request);

} // namespace testsupport
