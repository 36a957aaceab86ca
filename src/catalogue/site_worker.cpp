#include "catalogue/site_worker.h"

#include "catalogue/date_number.h"
#include "catalogue/encodings.h"
#include "catalogue/fetch_ahead.h"
#include "catalogue/page_renderer.h"
#include "catalogue/picture_failures.h"
#include "catalogue/picture_step.h"
#include "catalogue/property_text.h"
#include "catalogue/run_trace.h"
#include "catalogue/shortcut_file.h"
#include "catalogue/site_http_client.h"
#include "catalogue/site_probe.h"
#include "catalogue/temporary_shortcut.h"
#include "catalogue/turn_gate.h"
#include "catalogue/worker_messages.h"
#include "catalogue/worker_turn.h"
#include "platform/available_memory.h"
#include "platform/settings_model.h"
#include "platform/thread_priority.h"
#include "platform/urlcache.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace catalogue {

namespace {

const QByteArray lineEnd("\n\r");

void showBox(const QString& text) {
    ShowWorkerMessage(text);
}

template <typename Table>
void appendProperties(QByteArray& link, const ShortcutFile& file, PropertySet set,
                      const Table& table) {
    for (const PropertyName& property : table) {
        const QString text = PropertyText(ReadShortcutProperty(file, set, property.id));
        link +=
            EscapeText(property.name) + "=\"" + EscapeQuotedValue(text.toUtf8()) + "\"" + lineEnd;
    }
}

QString withoutExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf('.');
    return dot <= 0 ? fileName : fileName.left(dot);
}

} // namespace

void TGet_Web::run() {
    platform::runCallingThreadInBackground();
    std::optional<WorkerMessageCollector> collector;
    if (job_.collectMessages)
        collector.emplace();
    // Whatever goes wrong ends this favourite's work quietly; the run goes on.
    try {
        WorkerTurn turn(job_.busyGate, job_.captureOrder, dropped_);
        GetInfo(job_.busyGate ? &turn : nullptr);
    } catch (...) {
    }
    if (collector)
        messages_ = collector->messages();
}

void TGet_Web::cancel() {
    dropped_ = true;
    QMutexLocker lock(&probeMutex_);
    if (probe_)
        probe_->client().cancel();
}

void TGet_Web::GetInfo(WaitNotice* waitNotice) {
    if (!job_.FolderPath.endsWith('/'))
        job_.FolderPath += '/';
    siteRedirected_ = false;
    if (dropped_)
        return;
    SiteProbe probe(job_.urlCache.get(), job_.secureSites);
    probe.client().setWaitNotice(waitNotice);
    {
        QMutexLocker lock(&probeMutex_);
        probe_ = &probe;
        if (dropped_)
            probe.client().cancel();
    }
    struct Unpublish {
        TGet_Web& worker;
        ~Unpublish() {
            QMutexLocker lock(&worker.probeMutex_);
            worker.probe_ = nullptr;
        }
    } unpublish{*this};
    QString url;
    QString temporaryShortcut;
    try {
        readShortcutAndProbe(probe, url);
        if (dropped_)
            return;
        const QString& folder = job_.FolderPath;
        // The folder and the item must exist before a picture is taken of it.
        const QFileInfo folderInfo(folder);
        if (!folderInfo.exists())
            showBox(QStringLiteral("error ParseDisplayName"));
        else if (!folderInfo.isDir())
            showBox(QStringLiteral("error BindToObject"));
        // The picture is always taken from a shortcut that points at the
        // final address.
        QString item = job_.FileName;
        if (siteRedirected_) {
            temporaryShortcut = writeTemporaryShortcut(url);
            item = QFileInfo(temporaryShortcut).fileName();
        }
        if (!QFileInfo::exists(folder + item))
            showBox(QStringLiteral("error ParseDisplayName 2"));

        PictureStepInput input;
        input.dataFolder = job_.dataFolder;
        input.favouriteName = withoutExtension(job_.FileName);
        input.finalUrl = url;
        input.forHistory = job_.ForHistory;
        input.evenFileName = job_.evenFileName;
        input.newOnly = job_.newOnly;
        input.showCode = job_.showCode;
        input.dropped = &dropped_;
        input.failures = job_.pictureFailures;
        input.captureGate = job_.captureGate;
        input.captureOrder = job_.captureOrder;
        input.waitNotice = waitNotice;
        input.stagingFolder = job_.stagingFolder;
        RunTrace scratchTrace;
        RunPictureStep(input, probe, job_.renderer, job_.trace ? *job_.trace : scratchTrace, link_);
    } catch (...) {
        removeTemporaryShortcut(temporaryShortcut);
        throw;
    }
    removeTemporaryShortcut(temporaryShortcut);
}

void TGet_Web::readShortcutAndProbe(SiteProbe& probe, QString& url) {
    ShortcutFile shortcut;
    if (!shortcut.load(job_.FolderPath + job_.FileName))
        showBox(QStringLiteral("error FMTID_Intshcut"));
    url = PropertyText(ReadShortcutProperty(shortcut, PropertySet::Shortcut, 2));

    const int precode = probe.FetchStatus(url, false);
    siteRedirected_ = probe.ResolveRedirects(url);

    link_ += "PRECODE = \"" + QByteArray::number(precode) + "\" " + lineEnd;
    appendProperties(link_, shortcut, PropertySet::Shortcut, ShortcutProperties);
    if (IsReachableCode(precode))
        appendProperties(link_, shortcut, PropertySet::Site, SiteProperties);
    link_ += "VISITS=\"" + QByteArray::number(probe.CacheVisits(url)) + "\"" + lineEnd;
}

void TGet_Web::removeTemporaryShortcut(const QString& path) {
    if (path.isEmpty())
        return;
    // The capture may have taken long: the removal is noted on its own.
    if (job_.noteOwnChange)
        job_.noteOwnChange(path);
    QFile::remove(path);
    ReleaseTemporaryShortcut(path);
}

QString TGet_Web::writeTemporaryShortcut(const QString& url) {
    // "temp" + the catalogue time number; a later number when a file of that
    // name exists or another favourite's work holds it, so no favourite of
    // the user's is ever overwritten and no two workers share one.
    const QString path =
        ReserveTemporaryShortcut(job_.FolderPath, CatalogueTimeValue(QDateTime::currentDateTime()));
    WriteUrlFile(path, url, job_.noteOwnChange);
    return path;
}

int DefaultParallelFetches() {
    if (qEnvironmentVariable("PAGORAMA_ONE_AT_A_TIME") == QLatin1String("1"))
        return 1;
    // The work mostly waits for servers, so more workers than cores pay.
    // Each holds little memory (the renderer's tabs are bounded apart), yet
    // a machine short of memory gets the fewest.
    const long memory = platform::availableMemoryMiB();
    if (memory >= 0 && memory < 512)
        return 2;
    return std::clamp(QThread::idealThreadCount() * 4, 2, 8);
}

SiteWorker::SiteWorker(platform::SettingsModel& settings, RunTrace& trace, QString dataFolder,
                       std::function<void()> showStatus, platform::NoteOwnChange noteOwnChange,
                       PageRenderer* renderer)
    : settings_(settings), trace_(trace), pictureFailures_(std::make_unique<PictureFailures>()),
      dataFolder_(std::move(dataFolder)),
      showStatus_(std::move(showStatus)), noteOwnChange_(std::move(noteOwnChange)),
      renderer_(renderer), parallel_(DefaultParallelFetches()),
      // As many captures at once as the renderer runs in its tabs.
      captureGate_(std::make_unique<TurnGate>(renderer ? renderer->maxParallelCaptures() : 1)),
      ahead_(std::make_unique<FetchAhead>(parallel_)) {}

QString SiteWorker::pictureFailure() const { return pictureFailures_->first(); }

void SiteWorker::clearPictureFailures() { pictureFailures_->clear(); }

SiteWorker::~SiteWorker() {
    ahead_->abandon();
    ahead_->dropAll();
}

void SiteWorker::setParallelFetches(int count) {
    parallel_ = std::max(1, count);
    ahead_->setParallel(parallel_);
}

void SiteWorker::setParallelCaptures(int count) {
    captureGate_->setTurns(count);
}

bool SiteWorker::fetchRunning() const {
    return (current_ && !current_->isFinished()) || ahead_->handingOverRunning();
}

void SiteWorker::planAhead(const QList<PlannedFetch>& plan) {
    if (parallel_ <= 1)
        return;
    if (!urlCache_)
        reloadUrlCache();
    QList<SiteWorkerJob> jobs;
    jobs.reserve(plan.size());
    for (const PlannedFetch& favourite : plan) {
        SiteWorkerJob job = jobFor(favourite.folderPath, favourite.fileName, false);
        job.collectMessages = true;
        job.captureGate = captureGate_.get();
        jobs.append(std::move(job));
    }
    plannedWith_ = pictureOptions();
    ahead_->plan(std::move(jobs));
}

SiteWorker::PictureOptions SiteWorker::pictureOptions() const {
    return {settings_.newOnly, settings_.showCode, settings_.secureSites};
}

// An option changed in the window during the run reaches every favourite
// after the change, as it does when they are worked on one at a time: the
// work not handed over yet is dropped and done again with it.
void SiteWorker::replanIfOptionsChanged() {
    const PictureOptions now = pictureOptions();
    if (now == plannedWith_)
        return;
    plannedWith_ = now;
    QList<SiteWorkerJob> jobs = ahead_->plannedJobs();
    if (jobs.isEmpty())
        return;
    for (SiteWorkerJob& job : jobs) {
        job.newOnly = now.newOnly;
        job.showCode = now.showCode;
        job.secureSites = now.secureSites;
    }
    ahead_->plan(std::move(jobs));
}

void SiteWorker::dropAhead() {
    ahead_->dropAll();
}

void SiteWorker::setUrlCache(std::shared_ptr<const platform::UrlCache> cache) {
    urlCache_ = std::move(cache);
}

void SiteWorker::reloadUrlCache() {
    urlCache_ = std::make_shared<const platform::UrlCache>(platform::UrlCache::loadUser());
}

void SiteWorker::abandonCurrent() {
    if (current_)
        current_->cancel();
    ahead_->cancelHandingOver();
    // A capture waits for its page for many seconds; the browser starts
    // again for the next one.
    if (renderer_)
        renderer_->endCaptures();
}

void SiteWorker::abandonFetch() {
    ahead_->abandon();
    captureGate_->wakeAll();
    if (renderer_)
        renderer_->shutDown();
    TSiteHttpClient::cancelEveryClient();
}

SiteWorkerJob SiteWorker::jobFor(const QString& folderPath, const QString& fileName,
                                 bool forHistory) const {
    SiteWorkerJob job;
    job.FolderPath = folderPath;
    job.FileName = fileName;
    job.ForHistory = forHistory;
    job.dataFolder = dataFolder_;
    job.evenFileName = settings_.evenFileName;
    job.newOnly = settings_.newOnly;
    job.showCode = settings_.showCode;
    job.secureSites = settings_.secureSites;
    job.trace = &trace_;
    job.pictureFailures = pictureFailures_.get();
    job.renderer = renderer_;
    job.urlCache = urlCache_;
    job.noteOwnChange = noteOwnChange_;
    return job;
}

void SiteWorker::FetchSiteInfo(const QString& folderPath, const QString& fileName, bool forHistory,
                               QByteArray& currentLink) {
    if (showStatus_)
        showStatus_();
    if (!urlCache_)
        reloadUrlCache();
    if (!forHistory)
        replanIfOptionsChanged();
    if (!forHistory && ahead_->take(folderPath, fileName, trace_, currentLink))
        return;

    TGet_Web worker(jobFor(folderPath, fileName, forHistory));
    TGet_Web* const outer = current_;
    current_ = &worker;
    QEventLoop loop;
    QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker.setObjectName(QStringLiteral("site worker"));
    worker.start();
    if (!worker.isFinished())
        loop.exec();
    worker.wait();
    current_ = outer;
    currentLink += worker.link();
}

} // namespace catalogue
