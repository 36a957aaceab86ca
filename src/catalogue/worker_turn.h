#pragma once
// A site worker's turn at the machine. Work running ahead of the refresh
// run computes (reads its shortcut, reads answers, makes its picture) only
// while it holds a turn of a machine-sized gate, and hands the turn back for
// every wait on a server or for the renderer. Any number of favourites may
// so wait on silent servers at once, while the busy work keeps its bound.
#include "catalogue/wait_notice.h"

#include <QtGlobal>

#include <atomic>

namespace catalogue {

class TurnGate;

class WorkerTurn : public WaitNotice {
public:
    // Waits for a turn of gate in the run's order; a null gate bounds
    // nothing. Once dropped, the worker goes on without a turn (it only
    // ends its work).
    WorkerTurn(TurnGate* gate, qint64 order, const std::atomic<bool>& dropped);
    ~WorkerTurn() override;
    WorkerTurn(const WorkerTurn&) = delete;
    WorkerTurn& operator=(const WorkerTurn&) = delete;

    void waitBegins() override;
    void waitEnds() override;

private:
    void take();

    TurnGate* gate_;
    qint64 order_;
    const std::atomic<bool>& dropped_;
    bool held_ = false;
};

} // namespace catalogue
