#pragma once
// Turns for work running ahead of the refresh run: at the page renderer
// (captures), and at the machine (a worker computes only in its turn). At
// most `turns` are taken at once, and a free turn goes to the waiting work
// earliest in the run's order, so the favourite the run waits for is never
// kept behind work further ahead. Work that is dropped while it waits gives
// up its place at once instead of taking a turn it no longer needs.
#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

namespace catalogue {

class TurnGate {
public:
    explicit TurnGate(int turns = 1) : turns_(turns < 1 ? 1 : turns) {}

    void setTurns(int turns);
    int turns() const;

    // Waits for a turn; order is the work's place in the run (smaller goes
    // first). False, without a turn, once dropped is set.
    bool enter(qint64 order, const std::atomic<bool>& dropped);
    void leave();
    // Wakes every waiter to look at its dropped flag again.
    void wakeAll();

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int turns_;
    int inside_ = 0;
    std::multiset<qint64> waiting_;
};

} // namespace catalogue
