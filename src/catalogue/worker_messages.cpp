#include "catalogue/worker_messages.h"

#include "platform/message_service.h"

namespace catalogue {

namespace {

thread_local WorkerMessageCollector* threadCollector = nullptr;

} // namespace

WorkerMessageCollector::WorkerMessageCollector() : outer_(threadCollector) {
    threadCollector = this;
}

WorkerMessageCollector::~WorkerMessageCollector() {
    threadCollector = outer_;
}

void ShowWorkerMessage(const QString& text) {
    if (threadCollector) {
        threadCollector->messages_ << text;
        return;
    }
    platform::showMessage(text);
}

} // namespace catalogue
