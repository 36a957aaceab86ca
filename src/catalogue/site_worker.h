#pragma once
// The site worker: for one favourite, a background thread (normal scheduling,
// raised nice value) reads the shortcut's two property sets, probes the
// site, makes the picture and appends what it learnt to the favourite's Link
// record. The main thread
// waits for it while events keep flowing, and wakes as soon as it ends.
#include "catalogue/site_fetcher.h"
#include "platform/own_changes.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace platform {
class SettingsModel;
class UrlCache;
} // namespace platform

namespace catalogue {

class TurnGate;
class FetchAhead;
class PageRenderer;
class PictureFailures;
class RunTrace;
class SiteProbe;
class WaitNotice;

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
    PictureFailures* pictureFailures = nullptr;
    PageRenderer* renderer = nullptr; // may be null: no page captures
    std::shared_ptr<const platform::UrlCache> urlCache;
    // Told the path of the temporary shortcut before it is written and
    // before it is removed; called on the worker thread.
    platform::NoteOwnChange noteOwnChange;

    // Work running ahead of the run keeps its message boxes (messages())
    // for the run to show, and takes turns at the renderer in its place.
    bool collectMessages = false;
    TurnGate* captureGate = nullptr;
    qint64 captureOrder = 0;
    // Such work computes only in its turn of busyGate (see WorkerTurn) and
    // keeps its picture in stagingFolder until the run takes it.
    TurnGate* busyGate = nullptr;
    QString stagingFolder;
};

class TGet_Web : public QThread {
    Q_OBJECT
public:
    explicit TGet_Web(SiteWorkerJob job) : job_(std::move(job)) {}

    // What the worker appended to the Link; read it after the thread ended.
    const QByteArray& link() const { return link_; }
    // Whether the site redirected (the temporary shortcut was used).
    bool siteRedirected() const { return siteRedirected_; }
    // The message boxes kept by a job that collects them.
    const QStringList& messages() const { return messages_; }

    // Drops the work: the request in progress fails at once, nothing more
    // is sent and no picture is taken. Safe from any thread.
    void cancel();
    bool dropped() const { return dropped_.load(); }

protected:
    void run() override;

private:
    void GetInfo(WaitNotice* waitNotice);
    void readShortcutAndProbe(SiteProbe& probe, QString& url);
    QString writeTemporaryShortcut(const QString& url);
    void removeTemporaryShortcut(const QString& path);

    SiteWorkerJob job_;
    QByteArray link_;
    bool siteRedirected_ = false;
    QStringList messages_;
    std::atomic<bool> dropped_{false};
    QMutex probeMutex_;
    SiteProbe* probe_ = nullptr; // the probe in use, for cancel()
};

// The refresh run's site fetcher: one TGet_Web per favourite. Favourites
// the run plans ahead are worked on by several of them at once (see
// FetchAhead); the rest, and all of them when the environment sets
// PAGORAMA_ONE_AT_A_TIME=1, one at a time while the run waits.
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
    void planAhead(const QList<PlannedFetch>& plan) override;
    void dropAhead() override;
    void abandonCurrent() override;
    QString pictureFailure() const override;
    void clearPictureFailures() override;

    // How many favourites are worked on at once (1: one at a time, nothing
    // ahead). Set before a run; the default adapts to the machine.
    void setParallelFetches(int count);
    int parallelFetches() const { return parallel_; }
    // How many captures the renderer takes at once.
    void setParallelCaptures(int count);

    // The worker of the favourite in progress, null between favourites.
    TGet_Web* currentFetch() const { return current_; }
    // Whether the worker thread of the favourite in progress still runs. It
    // turns false as soon as the thread ends, even while the wait inside
    // FetchSiteInfo has not returned yet (a cancel that waits for the worker
    // may sit above that wait on the stack).
    bool fetchRunning() const;
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
    SiteWorkerJob jobFor(const QString& folderPath, const QString& fileName, bool forHistory) const;
    // The options of the picture step that the planned work was given.
    struct PictureOptions {
        bool newOnly = false, showCode = false, secureSites = false;
        bool operator==(const PictureOptions&) const = default;
    };
    PictureOptions pictureOptions() const;
    void replanIfOptionsChanged();
    PictureOptions plannedWith_;

    platform::SettingsModel& settings_;
    RunTrace& trace_;
    std::unique_ptr<PictureFailures> pictureFailures_;
    QString dataFolder_;
    std::function<void()> showStatus_;
    platform::NoteOwnChange noteOwnChange_;
    PageRenderer* renderer_;
    std::shared_ptr<const platform::UrlCache> urlCache_;
    TGet_Web* current_ = nullptr;
    int parallel_;
    std::unique_ptr<TurnGate> captureGate_;
    std::unique_ptr<FetchAhead> ahead_;
};

// The number of favourites worked on at once on this machine: bounded, and
// 1 when the environment sets PAGORAMA_ONE_AT_A_TIME=1.
int DefaultParallelFetches();

} // namespace catalogue
