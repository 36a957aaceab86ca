#include "catalogue/page_renderer.h"

#include "catalogue/browser_process.h"
#include "catalogue/browser_tab.h"
#include "catalogue/devtools_connection.h"
#include "catalogue/renderer_trust.h"
#include "catalogue/tab_pool.h"
#include "catalogue/thumbnail_size.h"
#include "platform/available_memory.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

#include <sys/wait.h>
#include <unistd.h>

namespace catalogue {

namespace {

// The first exchange with a new browser also waits for its start-up.
constexpr int kStartUpMs = 30000;
// How long a capture on another thread waits for the owning thread to start
// the browser.
constexpr int kStartRequestMs = 20000;
constexpr int kMostParallelCaptures = 8;
// How many pages the shared renderer processes draw before fresh ones take
// over (see TabPool): starting a process costs about as much browser work
// as a page, and memory grows with the pages a process has drawn.
constexpr int kCapturesPerContext = 50;

// Each page loading at once needs its renderer process (some hundred MiB
// for a heavy page), and a capture keeps a core busy while the page loads.
int parallelCapturesForThisMachine() {
    if (QThread::idealThreadCount() <= 1)
        return 1;
    const long memory = platform::availableMemoryMiB();
    if (memory >= 0 && memory < 1024)
        return 1;
    if (memory >= 0 && memory < 2048)
        return 2;
    return 3;
}

QString trustCacheFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/pagorama/browser-trust");
}

} // namespace

void PageRenderer::setProbeTrust(std::function<bool()> wanted) {
    QMutexLocker lock(&stateMutex_);
    probeTrust_ = std::move(wanted);
}

// One running browser, its pipe conversation and its tabs.
struct PageRenderer::Browser {
    BrowserProcess process;                         // stateMutex_
    std::shared_ptr<DevToolsConnection> connection; // set once
    std::unique_ptr<TabPool> tabs;                  // set once
    QMutex setUpMutex;
    bool setUp = false; // setUpMutex
};

// A place among the captures that run at once, held for one capture.
class PageRenderer::CaptureSlot {
public:
    explicit CaptureSlot(PageRenderer& owner) : owner_(owner) {
        QMutexLocker lock(&owner_.stateMutex_);
        const bool onOwnerThread = QThread::currentThread() == owner_.thread();
        while (!owner_.shutDown_ && owner_.busy_ >= owner_.maxParallel_) {
            if (onOwnerThread && owner_.starting_) {
                // A capture that holds a slot waits for this thread to start
                // the browser, and this thread waits for its slot: start it here.
                if (!owner_.browserAlive())
                    owner_.spawnBrowser();
                owner_.starting_ = false;
                owner_.changed_.wakeAll();
            }
            owner_.changed_.wait(&owner_.stateMutex_);
        }
        held_ = !owner_.shutDown_;
        if (held_)
            ++owner_.busy_;
    }
    ~CaptureSlot() {
        if (!held_)
            return;
        QMutexLocker lock(&owner_.stateMutex_);
        --owner_.busy_;
        owner_.changed_.wakeAll();
    }
    explicit operator bool() const { return held_; }

private:
    PageRenderer& owner_;
    bool held_ = false;
};

PageRenderer::PageRenderer(QObject* parent)
    : QObject(parent), maxParallel_(parallelCapturesForThisMachine()),
      sharedRenderers_(qEnvironmentVariable("PAGORAMA_SHARED_RENDERERS") != QLatin1String("0")) {}

PageRenderer::~PageRenderer() {
    stop();
}

void PageRenderer::setBrowserPath(const QString& path) {
    QMutexLocker lock(&stateMutex_);
    browserPath_ = path;
}

QString PageRenderer::browserPath() const {
    QMutexLocker lock(&stateMutex_);
    return browserPath_.isEmpty() ? findBrowser() : browserPath_;
}

QString PageRenderer::findBrowser() {
    return findInstalledBrowser();
}

void PageRenderer::removeStaleProfiles() {
    removeStaleBrowserProfiles();
}

void PageRenderer::setTimeouts(int loadMs, int commandMs) {
    QMutexLocker lock(&stateMutex_);
    loadTimeoutMs_ = loadMs;
    commandTimeoutMs_ = commandMs;
}

int PageRenderer::maxParallelCaptures() const {
    QMutexLocker lock(&stateMutex_);
    return maxParallel_;
}

void PageRenderer::setMaxParallelCaptures(int count) {
    QMutexLocker lock(&stateMutex_);
    maxParallel_ = qBound(1, count, kMostParallelCaptures);
    changed_.wakeAll();
}

void PageRenderer::setSharedRenderers(bool shared) {
    QMutexLocker lock(&stateMutex_);
    sharedRenderers_ = shared;
}

bool PageRenderer::start() {
    if (shutDown_)
        return false;
    QMutexLocker lock(&stateMutex_);
    if (browserAlive())
        return true;
    const bool started = spawnBrowser();
    changed_.wakeAll();
    return started;
}

bool PageRenderer::browserAlive() {
    if (!browser_)
        return false;
    if (browserStillRuns(browser_->process) && !browser_->connection->broken())
        return true;
    endBrowser(); // died, or its pipe failed: clean up before another starts
    return false;
}

bool PageRenderer::spawnBrowser() {
    ++startAttempts_;
    // Secure sites are pictured only when the probe has trusted them: the
    // browser then trusts the same certificates.
    QString trust;
    if (probeTrust_ && probeTrust_())
        trust = TrustDatabaseFor(ProbeTrustedCertificates(), trustCacheFolder());
    std::optional<BrowserProcess> process =
        launchBrowser(browserPath_.isEmpty() ? findBrowser() : browserPath_,
                      sharedRenderers_ ? maxParallel_ : 0, trust);
    if (!process)
        return false;
    auto browser = std::make_shared<Browser>();
    browser->connection =
        std::make_shared<DevToolsConnection>(process->toBrowser, process->fromBrowser);
    process->toBrowser = process->fromBrowser = -1; // the connection owns them now
    // Processes a site has to itself end with its pages; shared ones are
    // replaced now and then.
    browser->tabs =
        std::make_unique<TabPool>(browser->connection, sharedRenderers_ ? kCapturesPerContext : 0);
    browser->process = *process;
    browser_ = std::move(browser);
    return true;
}

void PageRenderer::endBrowser() {
    if (!browser_)
        return;
    const std::shared_ptr<Browser> browser = std::move(browser_);
    browser->connection->abort(); // every capture still talking to it ends now
    catalogue::endBrowser(browser->process);
}

void PageRenderer::stop() {
    QMutexLocker lock(&stateMutex_);
    ++stopCount_;
    if (browser_) {
        browser_->connection->abort();
        askBrowserToEnd(browser_->process);
    }
    changed_.wakeAll();
    while (busy_ > 0) {
        if (starting_) {
            // Nothing is started while stopping; the capture that asked gives up.
            starting_ = false;
            ++startAttempts_;
            changed_.wakeAll();
        }
        changed_.wait(&stateMutex_, 100);
    }
    endBrowser();
}

void PageRenderer::endCaptures() {
    {
        QMutexLocker lock(&stateMutex_);
        if (busy_ == 0)
            return;
    }
    stop();
}

void PageRenderer::shutDown() {
    shutDown_ = true;
    QMutexLocker lock(&stateMutex_);
    if (browser_) {
        browser_->connection->abort();
        askBrowserToEnd(browser_->process);
    }
    changed_.wakeAll();
}

bool PageRenderer::isRunning() const {
    QMutexLocker lock(&stateMutex_);
    if (!browser_ || browser_->process.pid <= 0 || browser_->process.reaped)
        return false;
    // Looks without waiting for it: a browser that has exited but is not yet
    // reaped does not count as running.
    siginfo_t info{};
    return ::waitid(P_PID, id_t(browser_->process.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

pid_t PageRenderer::browserProcessId() const {
    QMutexLocker lock(&stateMutex_);
    return browser_ ? browser_->process.pid : 0;
}

std::shared_ptr<PageRenderer::Browser> PageRenderer::runningBrowser() {
    QMutexLocker lock(&stateMutex_);
    const quint64 stops = stopCount_;
    const quint64 attempts = startAttempts_;
    const QDeadlineTimer patience(kStartRequestMs);
    for (;;) {
        if (shutDown_ || stopCount_ != stops)
            return nullptr;
        if (browserAlive())
            return browser_;
        if (startAttempts_ != attempts)
            return nullptr; // the start this capture waited for failed
        if (QThread::currentThread() == thread()) {
            spawnBrowser();
            changed_.wakeAll();
            return browser_;
        }
        if (!starting_) {
            // A browser started from this (idle priority) thread would
            // inherit its scheduling: the owning thread starts it, once for
            // all the captures that wait.
            starting_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    QMutexLocker startLock(&stateMutex_);
                    if (starting_ && !shutDown_ && !browserAlive())
                        spawnBrowser();
                    starting_ = false;
                    changed_.wakeAll();
                },
                Qt::QueuedConnection);
        }
        if (!changed_.wait(&stateMutex_, patience))
            return nullptr;
    }
}

bool PageRenderer::prepare(Browser& browser) {
    QMutexLocker lock(&browser.setUpMutex);
    if (!browser.setUp) {
        // Pages are only looked at: a page that starts a download must not
        // leave files in the user's folders. The answer also shows that the
        // browser has started.
        const QDeadlineTimer deadline(kStartUpMs);
        const int id = browser.connection->request("Browser.setDownloadBehavior",
                                                   {{"behavior", "deny"}}, {}, deadline);
        browser.setUp = id != 0 && browser.connection->waitAnswer(id, deadline).has_value();
    }
    return browser.setUp;
}

std::unique_ptr<BrowserTab> PageRenderer::takeTab(const std::shared_ptr<Browser>& browser,
                                                  int commandMs) {
    std::unique_ptr<BrowserTab> tab = browser->tabs->take(commandMs);
    if (tab || browser->connection->broken())
        return tab;
    // The browser itself still answers: the new tab's page process was one
    // that another page held stuck, and that process has been ended.
    const bool answers =
        browser->connection->call("Browser.getVersion", {}, {}, QDeadlineTimer(commandMs))
            .has_value();
    return answers ? browser->tabs->take(commandMs) : nullptr;
}

void PageRenderer::giveBack(const std::shared_ptr<Browser>& browser,
                            std::unique_ptr<BrowserTab> tab, int commandMs) {
    {
        QMutexLocker lock(&stateMutex_);
        if (browser_ != browser)
            return; // ended or being ended: its tabs go with it
    }
    browser->tabs->giveBack(std::move(tab), commandMs);
}

void PageRenderer::retire(const std::shared_ptr<Browser>& browser) {
    // Only the first capture that finds this browser dead or stuck ends it;
    // the others find it gone already.
    QMutexLocker lock(&stateMutex_);
    if (browser_ == browser)
        endBrowser();
}

QImage PageRenderer::capture(const QString& url, bool* certificateFailed, QImage* large) {
    bool refused = false;
    if (!certificateFailed)
        certificateFailed = &refused;
    *certificateFailed = false;
    CaptureSlot slot(*this);
    if (!slot)
        return {};
    int loadMs, commandMs;
    {
        QMutexLocker lock(&stateMutex_);
        loadMs = loadTimeoutMs_;
        commandMs = commandTimeoutMs_;
    }
    const std::shared_ptr<Browser> browser = runningBrowser();
    if (!browser)
        return {};
    if (!prepare(*browser)) {
        retire(browser);
        return {};
    }
    // A page whose process ended under it (another page stuck in the same
    // process was ended) is captured once more, in a new tab.
    for (int attempt = 1;; ++attempt) {
        std::unique_ptr<BrowserTab> tab = takeTab(browser, commandMs);
        if (!tab) {
            retire(browser); // dead, or too stuck to open a tab
            return {};
        }
        const QImage picture = tab->capture(url, loadMs, commandMs, certificateFailed, large);
        if (browser->connection->broken()) {
            tab.reset();
            retire(browser);
            return picture;
        }
        if (tab->usable()) {
            giveBack(browser, std::move(tab), commandMs);
            return picture;
        }
        // Pages share their processes: one held by this page is ended, so
        // the pages after it do not wait on it.
        tab->endStuckPage(commandMs);
        const bool endedUnderIt = tab->crashed();
        if (!browser->tabs->close(std::move(tab), commandMs)) {
            retire(browser); // a browser that cannot close a tab is stuck itself
            return picture;
        }
        if (!endedUnderIt || attempt == 2)
            return picture;
    }
}

QImage PageRenderer::scaleToThumbnail(const QImage& capture) {
    if (capture.isNull())
        return {};
    return capture
        .scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace catalogue
