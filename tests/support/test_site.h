#pragma once
// A small local web site for tests. It listens on 127.0.0.1 on a port the
// system chooses and answers from threads of its own, so it keeps answering
// while the test's main thread blocks in a request. Every connection gets
// its own thread; the site closes every connection after its answer.
//
// Built-in routes (paths without query):
//   /status/N            status N with a small HTML page (any N)
//   /head405, /head501   HEAD answers 405 / 501, GET answers 200 with a page
//   /chain/N             301 to /chain/N-1; /chain/0 is a page titled "Chain end"
//   /self-redirect       302 to itself
//   /redirect/301|302|307  that status with Location: /title
//   /x/root-redirect     302 with Location: /a/b
//   /x/folder-redirect   302 with Location: c.html
//   /a/b, /x/c.html      pages titled "A B" and "X C"
//   /refresh/unquoted    <meta http-equiv=refresh content="0; URL=next.html">
//   /refresh/quoted      <meta http-equiv="refresh" content="0; URL=next.html">
//   /refresh/self        unquoted refresh to itself
//   /refresh/next.html   page titled "Next"
//   /title               page titled "Test Title"
//   /notitle             page without a title element
//   /unclosed-title      "<title>" without "</title>"
//   /chunked             page sent in chunks (title "Chunked")
//   /bad-chunk           chunked answer whose chunk size line is not hexadecimal
//   /close-delimited     page without a length, ended by closing (title "Closed")
//   /type/html, /image.png, /download.zip   text/html, image/png, application/zip
//   /colour              page with a strongly coloured (red) background
//   /blank               blank white page
//   /stall               reads the request and sends nothing until the site stops
//   /stall-for-browsers  a page for the probe (no User-Agent); a browser's
//                        request gets nothing until the site stops
//   /garbage             sends bytes that are no HTTP answer, then closes
//   /garbage-status      a status line whose status is not a number
//   /endless-headers     header lines without end (until the peer goes away)
//   /big                 a 100 MiB body with Content-Length
//   /big-close           a 100 MiB body ended by closing the connection
// Any other path answers 404.
//
// Made with a certificate, the site speaks TLS with it on every connection
// ("https://" addresses); a client that refuses the certificate gets nothing.
#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace testsupport {

class TestCertificate;

class TestSite {
public:
    struct Request {
        QByteArray method;
        QByteArray path;  // as sent, query included
        QByteArray route; // path without query
        QByteArray raw;   // the request line and header lines as received
    };

    // What a route handler talks to.
    class Connection {
    public:
        virtual ~Connection() = default;
        // False once the peer has gone away or the site is stopping.
        virtual bool send(const QByteArray& bytes) = 0;
        // Blocks until the site stops or the peer closes.
        virtual void waitUntilClosed() = 0;
    };
    using Handler = std::function<void(const Request&, Connection&)>;

    TestSite();
    explicit TestSite(const TestCertificate& identity);
    ~TestSite();
    TestSite(const TestSite&) = delete;
    TestSite& operator=(const TestSite&) = delete;

    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>" + path ("https://" with a certificate)
    QString url(const QString& path) const;
    // The same with another name for this machine, such as "localhost".
    QString urlAt(const QString& host, const QString& path) const;
    QString hostPort() const;

    // Adds or replaces a route (path without query).
    void setRoute(const QByteArray& route, Handler handler);
    // A route answering with fixed bytes.
    void setRawRoute(const QByteArray& route, const QByteArray& response);

    // Every request received, in arrival order.
    QList<Request> requests() const;
    // How many requests came for a route.
    int requestCount(const QByteArray& route) const;
    // How many requests came from a browser (they carry a User-Agent; the
    // program's probe sends none).
    int browserRequestCount() const;
    int connectionCount() const { return connections_.load(); }
    void clearLog();

    // A complete answer with Content-Length and Connection: close.
    static QByteArray response(int status, const QByteArray& contentType, const QByteArray& body,
                               const QByteArray& extraHeaders = {});
    static QByteArray page(const QByteArray& title, const QByteArray& bodyHtml = {});

private:
    void listen();
    void acceptLoop();
    void serve(int fd);
    void addBuiltInRoutes();
    Handler handlerFor(const QByteArray& route) const;

    std::shared_ptr<SSL_CTX> tls_; // null: plain HTTP
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    std::condition_variable allServed_;
    int activeWorkers_ = 0; // connection threads still running (detached)
    std::vector<int> openFds_;
    std::map<QByteArray, Handler> routes_;
    QList<Request> log_;
};

} // namespace testsupport
