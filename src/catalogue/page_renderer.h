#pragma once
// The page renderer makes the thumbnail of a web page: one headless Chromium,
// kept running for a whole refresh run and driven over its DevTools pipe.
// Its tabs stay open from one capture to the next; each page is loaded at
// 1024 x 768 and the browser hands back the picture scaled into 122 x 122
// keeping its proportions.
//
// The browser is started by start() on the thread that owns the renderer
// (the main thread, at normal scheduling: a child started from the idle
// priority worker would inherit that priority). capture() may be called from
// several threads at once: up to maxParallelCaptures() run side by side, each
// in a tab of its own, and further callers wait for a free tab. When the
// browser has died, the next capture asks the owning thread to start a new
// one (once, however many callers notice), so that thread must keep
// processing events while captures run on other threads (the refresh run's
// wait does).
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>

namespace catalogue {

class BrowserTab;

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

    // Asked at each browser start, on the owning thread: true when the
    // browser is to trust every certificate the site probe trusts (the
    // system's store, SSL_CERT_FILE and SSL_CERT_DIR), so secure pages the
    // probe accepted are pictured rather than refused.
    void setProbeTrust(std::function<bool()> wanted);

    // How long a page may take to finish loading before it is captured as it
    // stands, and how long any single exchange with the browser may take
    // before the browser (or the tab) counts as stuck: a stuck tab is closed
    // and replaced, a stuck browser stopped and started again for the next
    // capture.
    void setTimeouts(int loadMs, int commandMs);

    // How many captures run at once: 3, fewer on a machine with one core or
    // little free memory. Callers may size their look-ahead by it.
    int maxParallelCaptures() const;
    // Sets it (1 to 8), for tests and measurements.
    void setMaxParallelCaptures(int count);
    // Whether the pages of the next browser started share as many renderer
    // processes as captures run at once (the default), or each site gets a
    // new process of its own as in a browser for everyday use (for
    // measurements and comparisons; the environment value
    // PAGORAMA_SHARED_RENDERERS=0 chooses it too). Shared processes are
    // replaced by fresh ones after a number of pages (see TabPool), so the
    // memory they hold does not grow with the run. A page that holds its
    // process stuck is stopped, or its process ended, before its tab closes,
    // and the pages that shared the ended process are captured once more.
    void setSharedRenderers(bool shared);

    // Starts the browser when it is not running. False when no browser could
    // be started (none installed). Call on the owning thread.
    bool start();
    // Ends the browser and every process it started, and removes its profile.
    // Captures in progress end at once with no picture.
    void stop();
    // Captures in progress end at once with no picture: the browser is
    // stopped, and the next capture starts it again. Nothing happens when
    // no capture runs. Call on the owning thread.
    void endCaptures();
    // For the end of the program: every capture in progress ends at once
    // (its browser is told to quit), and no capture or browser start follows.
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
    // *certificateFailed, when given, turns true. With large given, the
    // same capture also yields the large copy there (366 x 273).
    QImage capture(const QString& url, bool* certificateFailed = nullptr, QImage* large = nullptr);

    // A 1024 x 768 capture scaled into 122 x 122, proportions kept, 32-bit.
    static QImage scaleToThumbnail(const QImage& capture);

private:
    struct Browser;
    class CaptureSlot;
    std::shared_ptr<Browser> runningBrowser();
    bool spawnBrowser(); // with stateMutex_ held
    void endBrowser();   // with stateMutex_ held
    bool browserAlive(); // with stateMutex_ held
    bool prepare(Browser& browser);
    std::unique_ptr<BrowserTab> takeTab(const std::shared_ptr<Browser>& browser, int commandMs);
    void giveBack(const std::shared_ptr<Browser>& browser, std::unique_ptr<BrowserTab> tab,
                  int commandMs);
    void retire(const std::shared_ptr<Browser>& browser);

    std::atomic<bool> shutDown_{false};
    mutable QMutex stateMutex_;
    QWaitCondition changed_; // a slot freed, a browser started, a stop or shut-down
    QString browserPath_;
    std::function<bool()> probeTrust_;
    int loadTimeoutMs_ = 15000;
    int commandTimeoutMs_ = 10000;
    int maxParallel_;
    bool sharedRenderers_;
    int busy_ = 0;          // captures holding a slot
    bool starting_ = false; // the owning thread has been asked to start a browser
    quint64 startAttempts_ = 0;
    quint64 stopCount_ = 0; // ends the waits of captures that a stop() interrupts
    std::shared_ptr<Browser> browser_;
};

} // namespace catalogue
