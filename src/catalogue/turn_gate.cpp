#include "catalogue/turn_gate.h"

#include <chrono>

namespace catalogue {

void TurnGate::setTurns(int turns) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        turns_ = turns < 1 ? 1 : turns;
    }
    changed_.notify_all();
}

int TurnGate::turns() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return turns_;
}

bool TurnGate::enter(qint64 order, const std::atomic<bool>& dropped) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto place = waiting_.insert(order);
    for (;;) {
        if (dropped.load()) {
            waiting_.erase(place);
            lock.unlock();
            changed_.notify_all();
            return false;
        }
        if (inside_ < turns_ && *waiting_.begin() == order) {
            waiting_.erase(place);
            ++inside_;
            lock.unlock();
            changed_.notify_all(); // the next in order may fit too
            return true;
        }
        // The timed wait also notices a drop that nobody announced.
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void TurnGate::leave() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        --inside_;
    }
    changed_.notify_all();
}

void TurnGate::wakeAll() {
    changed_.notify_all();
}

} // namespace catalogue
