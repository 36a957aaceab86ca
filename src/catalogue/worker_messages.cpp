#include "catalogue/worker_messages.h"

#include "platform/message_service.h"

#include <QCoreApplication>
#include <QThread>

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
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        platform::showMessage(text);
        return;
    }
    QMetaObject::invokeMethod(
        app, [text] { platform::showMessage(text); }, Qt::BlockingQueuedConnection);
}

} // namespace catalogue
