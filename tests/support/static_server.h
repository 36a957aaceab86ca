#pragma once
// A small static file server on 127.0.0.1 for browser tests: GET and HEAD of
// the files below one folder, each connection on its own thread so a browser
// may hold several at once. Paths are percent-decoded, "\" and "/" both
// separate folders, and nothing outside the folder is served.
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class StaticServer {
public:
    // Serves `root`; "/" is answered with `defaultDocument`.
    explicit StaticServer(const QString& root, const QString& defaultDocument = "viewer.htm");
    ~StaticServer();
    StaticServer(const StaticServer&) = delete;
    StaticServer& operator=(const StaticServer&) = delete;

    quint16 port() const { return port_; }
    // Every request target received, in order.
    QStringList requests() const;
    // Sends the file named `name` only up to the first `marker`, waits
    // `pauseMs`, then sends the rest: a page the browser has to show and run
    // while it is still arriving.
    void pauseBefore(const QString& name, const QByteArray& marker, int pauseMs);

private:
    void acceptLoop();
    void serve(int client);

    QString root_;
    QString defaultDocument_;
    int listener_ = -1;
    int wakeRead_ = -1, wakeWrite_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> workers_;
    QStringList requests_;
    QString pauseName_;
    QByteArray pauseMarker_;
    int pauseMs_ = 0;
};

} // namespace testsupport
