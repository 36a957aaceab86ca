#pragma once
// A local web site that answers on several loopback addresses at once
// (127.0.0.1 .. 127.0.0.N, one port chosen by the system), so that one
// process stands in for many web servers. Every answer can be delayed, some
// addresses can be silent (they accept connections and never answer), and
// the site counts how many connections each address holds at once. Every
// connection gets one answer and is closed, so a connection is a request.
//
// Routes (N any number):
//   /page/N       a page of a few KiB titled "Page N", in a colour of its
//                 own, with a stylesheet and a picture
//   /plain/N      a small page titled "Plain N" without anything to load
//   /style.css    the stylesheet;  /picture.png  the picture
//   /file/N.zip   a small download (application/zip)
//   /redirect/N   302 to /page/N
// Anything else answers 404.
#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class LoopbackSite {
public:
    struct Options {
        int addresses = 1; // 127.0.0.1 .. 127.0.0.<addresses>
        int delayMs = 0;   // before every answer
        QSet<int> silent;  // last address bytes that never answer
    };
    struct Seen {
        int address = 0; // last byte of the address that was asked
        QByteArray method;
        QByteArray path;
        bool browser = false; // the request carried a User-Agent
        qint64 atMs = 0;      // on the clock of nowMs()
    };

    explicit LoopbackSite(Options options);
    ~LoopbackSite();
    LoopbackSite(const LoopbackSite&) = delete;
    LoopbackSite& operator=(const LoopbackSite&) = delete;

    quint16 port() const { return port_; }
    // "http://127.0.0.<address>:<port>" + path
    QString url(int address, const QString& path) const;
    // The colour of /page/N.
    static QByteArray colourOf(int n);

    // The most connections that address held at the same time so far; a
    // connection counts from its acceptance until its answer goes out.
    int mostAtOnce(int address) const;
    // The most requests that address was answering at the same time: the
    // connections above, without those that never sent a request (a
    // browser opens some ahead of need).
    int mostAskingAtOnce(int address) const;
    // The most connections held at the same time over all addresses.
    int mostAtOnceOverall() const;
    QList<Seen> requests() const;
    qint64 nowMs() const;

private:
    void acceptLoop();
    void serve(int fd, int address);
    void endCounting(int address, bool& counted, bool& asking);
    QByteArray answer(const QByteArray& method, const QByteArray& path) const;
    void waitUntilClosed(int fd) const;

    Options options_;
    quint16 port_ = 0;
    std::vector<int> listenFds_; // index i is address i + 1
    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::chrono::steady_clock::time_point started_;
    QByteArray picture_;

    mutable std::mutex mutex_;
    std::condition_variable allServed_;
    int activeConnections_ = 0;
    std::vector<int> openNow_, mostAtOnce_, asking_, mostAsking_; // per address
    int openOverall_ = 0, mostOverall_ = 0;
    QList<Seen> log_;
};

} // namespace testsupport
