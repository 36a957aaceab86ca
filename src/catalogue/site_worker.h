#pragma once
// The site worker: for one favourite, a background thread (normal scheduling,
// raised nice value) reads the shortcut's two property sets, probes the
// site, makes the picture and appends what it learnt to the favourite's Link
// record. The main thread
// waits for it while events keep flowing, and wakes as soon as it ends.
#include "catalogue/site_fetcher.h"
#include "platform/own_changes.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

namespace platform {
class SettingsModel;
class UrlCache;
} // namespace platform

namespace catalogue {

class PageRenderer;
class RunTrace;
class SiteProbe;

// What a worker needs to know of the run, copied on the main thread before
// it starts, so the worker reads nothing that the main thread may change.
struct SiteWorkerJob {
    QString FolderPath; // native, made to end in "/"
    QString FileName;
    bool ForHistory = false;

    QString dataFolder; // native, ending in "/"
    int evenFileName = 0;
    bool newOnly = false;
    bool showCode = false;
    bool secureSites = false; // "https://" sites are probed and pictured
    RunTrace* trace = nullptr;
    PageRenderer* renderer = nullptr; // may be null: no page captures
    std::shared_ptr<const platform::UrlCache> urlCache;
    // Told the path of the temporary shortcut before it is written and
    // before it is removed; called on the worker thread.
    platform::NoteOwnChange noteOwnChange;
};

class TGet_Web : public QThread {
    Q_OBJECT
public:
    explicit TGet_Web(SiteWorkerJob job) : job_(std::move(job)) {}

    // What the worker appended to the Link; read it after the thread ended.
    const QByteArray& link() const { return link_; }
    // Whether the site redirected (the temporary shortcut was used).
    bool siteRedirected() const { return siteRedirected_; }

protected:
    void run() override;

private:
    void GetInfo();
    void readShortcutAndProbe(SiteProbe& probe, QString& url);
    QString writeTemporaryShortcut(const QString& url);
    void removeTemporaryShortcut(const QString& path);

    SiteWorkerJob job_;
    QByteArray link_;
    bool siteRedirected_ = false;
};

// The refresh run's site fetcher: one TGet_Web per favourite.
class SiteWorker : public SiteFetcher {
public:
    // settings gives newOnly, showCode, secureSites and the run counter
    // evenFileName;
    // dataFolder is the native data folder ending in "/"; showStatus
    // refreshes the tray status before each favourite; noteOwnChange is told
    // of each temporary shortcut (from the worker thread). renderer may be
    // null.
    SiteWorker(platform::SettingsModel& settings, RunTrace& trace, QString dataFolder,
               std::function<void()> showStatus, platform::NoteOwnChange noteOwnChange,
               PageRenderer* renderer = nullptr);
    ~SiteWorker() override;

    void FetchSiteInfo(const QString& folderPath, const QString& fileName, bool forHistory,
                       QByteArray& currentLink) override;

    // The worker of the favourite in progress, null between favourites.
    TGet_Web* currentFetch() const { return current_; }
    // Whether the worker thread of the favourite in progress still runs. It
    // turns false as soon as the thread ends, even while the wait inside
    // FetchSiteInfo has not returned yet (a cancel that waits for the worker
    // may sit above that wait on the stack).
    bool fetchRunning() const { return current_ && !current_->isFinished(); }
    // For a close that ends the program: the fetch in progress is cut short
    // instead of waited for, however long its time-outs. Every probe request
    // in progress fails as cancelled (also those of the main thread) and
    // its probe sends nothing more; the page renderer takes no more pictures.
    void abandonFetch();

    // The browser history the VISITS values come from. Without one, the
    // user's history is read (copied) at the first fetch; a new run may call
    // reloadUrlCache() to read it again.
    void setUrlCache(std::shared_ptr<const platform::UrlCache> cache);
    void reloadUrlCache();

private:
    platform::SettingsModel& settings_;
    RunTrace& trace_;
    QString dataFolder_;
    std::function<void()> showStatus_;
    platform::NoteOwnChange noteOwnChange_;
    PageRenderer* renderer_;
    std::shared_ptr<const platform::UrlCache> urlCache_;
    TGet_Web* current_ = nullptr;
};

} // namespace catalogue
