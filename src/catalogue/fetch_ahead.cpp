#include "catalogue/fetch_ahead.h"

#include "catalogue/picture_failures.h"
#include "catalogue/picture_step.h"
#include "catalogue/property_text.h"
#include "catalogue/shortcut_file.h"
#include "platform/message_service.h"
#include "platform/paths.h"

#include <QEventLoop>
#include <QHash>
#include <QTimer>

#include <algorithm>

namespace catalogue {

namespace {

QString withoutExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf('.');
    return dot <= 0 ? fileName : fileName.left(dot);
}

QString withSlash(QString folder) {
    if (!folder.endsWith('/'))
        folder += '/';
    return folder;
}

} // namespace

struct FetchAhead::Ahead {
    qint64 order = 0;
    SiteWorkerJob job;
    QString picture; // relative to the data folder: shared by favourites of one name
    qint64 samePictureBefore = 0; // the planned work before it with the same picture
    QString hostKey;
    bool hostKnown = false;
    bool holdsHost = false;
    bool ended = false;              // the worker thread has ended and its end was handled
    std::unique_ptr<RunTrace> trace; // in memory, handed over with the Link
    std::unique_ptr<TGet_Web> worker;

    bool running() const { return worker && !ended; }
};

FetchAhead::FetchAhead(int parallel) : parallel_(std::max(1, parallel)), busy_(parallel_) {}

void FetchAhead::setParallel(int parallel) {
    parallel_ = std::max(1, parallel);
    busy_.setTurns(parallel_);
}

FetchAhead::~FetchAhead() {
    // Normally everything was handed over or dropped; a worker still here
    // is cut short, as the object that owns it goes.
    abandon();
    busy_.wakeAll();
    forEachWorker([](TGet_Web& worker) { worker.wait(); });
}

void FetchAhead::forEachWorker(const std::function<void(TGet_Web&)>& f) const {
    auto each = [&f](const std::unique_ptr<Ahead>& work) {
        if (work && work->worker)
            f(*work->worker);
    };
    each(handingOver_);
    for (const auto& work : queue_)
        each(work);
    for (const auto& work : draining_)
        each(work);
}

QString FetchAhead::hostKeyOf(const SiteWorkerJob& job) const {
    ShortcutFile shortcut;
    if (!shortcut.load(withSlash(job.FolderPath) + job.FileName))
        return {};
    return HostSlots::keyOf(PropertyText(ReadShortcutProperty(shortcut, PropertySet::Shortcut, 2)));
}

void FetchAhead::plan(QList<SiteWorkerJob> jobs) {
    dropAll();
    abandoned_ = false;
    static qint64 nextOrder = 0; // unique across plans, so late end notices never mix
    QHash<QString, qint64> lastWithPicture;
    for (SiteWorkerJob& job : jobs) {
        auto work = std::make_unique<Ahead>();
        work->order = ++nextOrder;
        job.captureOrder = work->order;
        job.busyGate = &busy_;
        job.stagingFolder = staged_.folder();
        work->picture = PicturePathFor(job.dataFolder, withoutExtension(job.FileName),
                                       job.evenFileName, job.ForHistory)
                            .relative;
        qint64& last = lastWithPicture[work->picture];
        work->samePictureBefore = last;
        last = work->order;
        work->job = std::move(job);
        unfinished_.insert(work->order);
        queue_.push_back(std::move(work));
    }
    schedule();
}

QList<SiteWorkerJob> FetchAhead::plannedJobs() const {
    QList<SiteWorkerJob> jobs;
    for (const auto& work : queue_)
        jobs.append(work->job);
    return jobs;
}

void FetchAhead::schedule() {
    if (abandoned_)
        return;
    int running = (handingOver_ && handingOver_->running()) ? 1 : 0;
    for (const auto& work : queue_)
        running += work->running() ? 1 : 0;

    auto consider = [&](Ahead& work) {
        if (work.worker || unfinished_.contains(work.samePictureBefore))
            return;
        if (!work.hostKnown) {
            work.hostKey = hostKeyOf(work.job);
            work.hostKnown = true;
        }
        if (hosts_.take(work.hostKey)) {
            work.holdsHost = true;
            start(work);
            ++running;
        }
    };
    if (handingOver_)
        consider(*handingOver_);
    for (size_t i = 0; i < queue_.size() && running < MaxAtOnce; ++i)
        consider(*queue_[i]);
    mostAtOnce_ = std::max(mostAtOnce_, running);
}

void FetchAhead::start(Ahead& work) {
    work.trace = std::make_unique<RunTrace>();
    work.job.trace = work.trace.get();
    work.worker = std::make_unique<TGet_Web>(work.job);
    const qint64 order = work.order;
    connect(work.worker.get(), &QThread::finished, this, [this, order] { ended(order); });
    work.worker->setObjectName(QStringLiteral("site worker"));
    work.worker->start();
}

FetchAhead::Ahead* FetchAhead::find(qint64 order) const {
    if (handingOver_ && handingOver_->order == order)
        return handingOver_.get();
    for (const auto& work : queue_)
        if (work->order == order)
            return work.get();
    for (const auto& work : draining_)
        if (work->order == order)
            return work.get();
    return nullptr;
}

void FetchAhead::ended(qint64 order) {
    Ahead* work = find(order);
    if (!work || work->ended)
        return;
    work->ended = true;
    if (work->holdsHost) {
        hosts_.release(work->hostKey);
        work->holdsHost = false;
    }
    schedule();
    emit workEnded();
}

void FetchAhead::waitForAnEnd() {
    QEventLoop loop;
    connect(this, &FetchAhead::workEnded, &loop, &QEventLoop::quit);
    // A look now and then, so a wait never depends on one notice alone.
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
}

bool FetchAhead::handingOverRunning() const {
    if (!handingOver_)
        return false;
    if (!handingOver_->worker)
        return !abandoned_;
    return !handingOver_->worker->isFinished();
}

bool FetchAhead::take(const QString& folderPath, const QString& fileName, RunTrace& trace,
                      QByteArray& link) {
    const auto it = std::find_if(queue_.begin(), queue_.end(), [&](const auto& work) {
        return work->job.FileName == fileName &&
               withSlash(work->job.FolderPath) == withSlash(folderPath);
    });
    if (it == queue_.end())
        return false;
    // Planned favourites the run passed by have gone from their folder.
    for (auto passed = it - queue_.begin(); passed > 0; --passed) {
        if (queue_.front()->worker)
            queue_.front()->worker->cancel();
        draining_.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    handingOver_ = std::move(queue_.front());
    queue_.pop_front();
    drain();
    schedule();
    while (!handingOver_->ended && !(abandoned_ && !handingOver_->worker))
        waitForAnEnd();

    const std::unique_ptr<Ahead> work = std::move(handingOver_);
    if (work->worker) {
        work->worker->wait();
        const QStringList lines = work->trace->lines();
        if (!lines.isEmpty())
            trace.add(lines);
        for (const QString& message : work->worker->messages())
            platform::showMessage(message);
        link += work->worker->link();
        publishPicture(*work);
    }
    unfinished_.remove(work->order);
    schedule();
    return true;
}

void FetchAhead::publishPicture(const Ahead& work) const {
    QString error;
    if (!staged_.publish(work.picture, work.job.dataFolder, &error) && work.job.pictureFailures)
        work.job.pictureFailures->note(
            work.job.dataFolder + platform::fromBackslashForm(work.picture), error);
}

void FetchAhead::dropAll() {
    for (auto& work : queue_) {
        if (work->worker)
            work->worker->cancel();
        draining_.push_back(std::move(work));
    }
    queue_.clear();
    drain();
}

void FetchAhead::drain() {
    auto allEnded = [this] {
        return std::none_of(draining_.begin(), draining_.end(),
                            [](const auto& work) { return work->running(); });
    };
    while (!allEnded())
        waitForAnEnd();
    std::vector<std::unique_ptr<Ahead>> dropped = std::move(draining_);
    draining_.clear();
    for (const auto& work : dropped)
        finishDropped(*work);
}

void FetchAhead::finishDropped(Ahead& work) {
    if (work.worker) {
        work.worker->wait();
        // Work that never reached the run leaves no picture.
        staged_.discard(work.picture);
    }
    unfinished_.remove(work.order);
    if (work.holdsHost) {
        hosts_.release(work.hostKey);
        work.holdsHost = false;
    }
}

void FetchAhead::cancelHandingOver() {
    if (handingOver_ && handingOver_->worker)
        handingOver_->worker->cancel();
}

void FetchAhead::abandon() {
    abandoned_ = true;
    forEachWorker([](TGet_Web& worker) { worker.cancel(); });
    busy_.wakeAll();
}

} // namespace catalogue
