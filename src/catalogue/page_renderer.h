#pragma once
// The page renderer makes the thumbnail of a web page: one headless Chromium,
// kept running for a whole refresh run and driven over its DevTools pipe
// (file descriptors 3 and 4 of the child, JSON messages ended by a NUL byte).
// Each page is loaded at 1024 x 768 in a fresh tab, captured, and scaled into
// 122 x 122 keeping its proportions.
//
// The browser is started by start() on the thread that owns the renderer
// (the main thread, at normal scheduling: a child started from the idle
// priority worker would inherit that priority). capture() may be called from
// any thread, one caller at a time, and only exchanges messages over the
// pipe; when the browser has died it asks the owning thread to start a new
// one, so that thread must keep processing events while a capture runs on
// another thread (the refresh run's wait does).
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QString>

#include <sys/types.h>

#include <atomic>

namespace catalogue {

class PageRenderer : public QObject {
    Q_OBJECT
public:
    explicit PageRenderer(QObject* parent = nullptr);
    ~PageRenderer() override; // stops the browser

    // The browser program; empty means the installed Chromium (see findBrowser).
    void setBrowserPath(const QString& path);
    QString browserPath() const;
    // The installed Chromium, empty when there is none.
    static QString findBrowser();
    // Removes the browser profiles that copies of the program which have
    // ended (also by a crash) left in the temporary folder; those of
    // running copies stay.
    static void removeStaleProfiles();

    // How long a page may take to finish loading before it is captured as it
    // stands, and how long any single exchange with the browser may take
    // before the browser counts as stuck (it is then stopped, and started
    // again for the next capture).
    void setTimeouts(int loadMs, int commandMs);

    // Starts the browser when it is not running. False when no browser could
    // be started (none installed). Call on the owning thread.
    bool start();
    // Ends the browser and every process it started, and removes its profile.
    void stop();
    // For the end of the program: the capture in progress ends at once (its
    // browser is told to quit), and no capture or browser start follows.
    // Safe from any thread; stop() or the destructor then cleans up.
    void shutDown();
    bool isRunning() const;
    // The browser's process id while it runs, else 0 (for tests and diagnostics).
    pid_t browserProcessId() const;

    // The thumbnail of the page at url; a null image when none could be made
    // (no browser, a browser that died or got stuck, a page that never
    // painted). Always returns within a bounded time. A page whose secure
    // connection the browser refused for its certificate is never captured
    // (that would picture the browser's own warning): the image is null and
    // *certificateFailed, when given, turns true.
    QImage capture(const QString& url, bool* certificateFailed = nullptr);

    // Whether a navigation error text of the browser is a certificate failure.
    static bool isCertificateError(const QString& errorText);

    // A 1024 x 768 capture scaled into 122 x 122, proportions kept, 32-bit.
    static QImage scaleToThumbnail(const QImage& capture);

private:
    class Session;
    bool ensureRunning();
    bool spawnBrowser(); // with stateMutex_ held
    void endBrowser();   // with stateMutex_ held
    QImage captureWithBrowser(const QString& url, bool* certificateFailed);
    QImage captureInTab(Session& session, const QString& targetId, const QString& url, int loadMs,
                        int commandMs, bool* certificateFailed);

    std::atomic<bool> shutDown_{false};
    mutable QMutex stateMutex_;
    QMutex captureMutex_;
    QString browserPath_;
    int loadTimeoutMs_ = 15000;
    int commandTimeoutMs_ = 10000;

    pid_t pid_ = 0;
    int toBrowser_ = -1;
    int fromBrowser_ = -1;
    bool reaped_ = false;       // the browser's process has been waited for
    bool freshBrowser_ = false; // the next exchange includes the browser's start-up
    QString profileDir_;
    int profileLock_ = -1; // holds the profile's lock while it is in use
    // Owned by the capture in progress (captureMutex_).
    QByteArray pipeBuffer_;
    int nextMessageId_ = 1;
};

} // namespace catalogue
