#include "catalogue/worker_turn.h"

#include "catalogue/turn_gate.h"

namespace catalogue {

WorkerTurn::WorkerTurn(TurnGate* gate, qint64 order, const std::atomic<bool>& dropped)
    : gate_(gate), order_(order), dropped_(dropped) {
    take();
}

WorkerTurn::~WorkerTurn() {
    waitBegins();
}

void WorkerTurn::take() {
    if (gate_ && !held_)
        held_ = gate_->enter(order_, dropped_);
}

void WorkerTurn::waitBegins() {
    if (held_) {
        gate_->leave();
        held_ = false;
    }
}

void WorkerTurn::waitEnds() {
    take();
}

} // namespace catalogue
