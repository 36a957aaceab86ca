#pragma once
// Work on the favourites ahead of the refresh run. The run still takes its
// favourites one by one in scan order; meanwhile the next ones in its plan
// are probed and pictured on worker threads, so the waits for slow servers
// overlap. Nothing of this shows: each favourite's Link text, run trace
// lines and message boxes are handed over when the run takes it, in its
// order.
//
// Bounds: at most `parallel` favourites compute at once (a worker hands its
// turn back while it waits for a server or the renderer, see WorkerTurn), at
// most MaxAtOnce are worked on at once, at most HostSlots::PerHost of one
// server at once, and two favourites that share a picture file (the same
// name) never at the same time: the later starts once the earlier has been
// handed over, as one at a time. Pictures of work ahead stay in a staging
// folder until the run takes them (StagedPictures).
//
// Everything here runs on the main thread; only the TGet_Web threads run
// elsewhere.
#include "catalogue/host_slots.h"
#include "catalogue/run_trace.h"
#include "catalogue/site_worker.h"
#include "catalogue/staged_pictures.h"
#include "catalogue/turn_gate.h"

#include <QList>
#include <QObject>
#include <QSet>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace catalogue {

class FetchAhead : public QObject {
    Q_OBJECT
public:
    // The most favourites worked on at once, most of them waiting.
    static constexpr int MaxAtOnce = 256;

    explicit FetchAhead(int parallel);
    ~FetchAhead() override;

    void setParallel(int parallel);

    // Replaces the plan (dropping the old one) and starts work on it.
    void plan(QList<SiteWorkerJob> jobs);
    // The jobs planned and not handed over yet, in the run's order.
    QList<SiteWorkerJob> plannedJobs() const;
    // When the favourite is in the plan: waits for its work while events
    // flow, adds its trace lines to trace, shows its message boxes, appends
    // its Link pieces to link and returns true. Planned favourites before it
    // (gone from the folder since the plan was made) are dropped. False when
    // it is not planned: the caller does the work itself.
    bool take(const QString& folderPath, const QString& fileName, RunTrace& trace,
              QByteArray& link);
    // Whether the favourite being handed over still works.
    bool handingOverRunning() const;
    // Drops every planned favourite except the one being handed over: its
    // requests fail at once, and once its thread has ended its new picture
    // is removed. Returns when all have ended, handling events meanwhile.
    void dropAll();
    // The favourite being handed over is cut short; the run that asked for
    // it gets what its worker had when it ended.
    void cancelHandingOver();
    // The program ends: every worker is cut short, the one being handed
    // over too, and nothing new starts. Does not wait.
    void abandon();

    // The most favourites worked on at once so far (tests).
    int mostAtOnce() const { return mostAtOnce_; }
    // The staging folder of the pictures made ahead (tests).
    QString stagingFolder() const { return staged_.folder(); }

signals:
    void workEnded();

private:
    struct Ahead;
    void schedule();
    void start(Ahead& work);
    void ended(qint64 order);
    Ahead* find(qint64 order) const;
    void waitForAnEnd();
    void drain(); // waits for the dropped work, then clears up after it
    void finishDropped(Ahead& work);
    void publishPicture(const Ahead& work) const;
    QString hostKeyOf(const SiteWorkerJob& job) const;
    void forEachWorker(const std::function<void(TGet_Web&)>& f) const;

    int parallel_;
    bool abandoned_ = false;
    HostSlots hosts_;
    TurnGate busy_; // turns at the machine
    StagedPictures staged_;
    QSet<qint64> unfinished_; // planned and neither handed over nor dropped
    std::unique_ptr<Ahead> handingOver_;
    std::deque<std::unique_ptr<Ahead>> queue_;     // planned, in the run's order
    std::vector<std::unique_ptr<Ahead>> draining_; // dropped, ending
    int mostAtOnce_ = 0;
};

} // namespace catalogue
