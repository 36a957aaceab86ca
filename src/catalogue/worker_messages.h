#pragma once
// Message boxes raised by site work running on a worker thread. A box
// belongs to the main thread: by default the worker waits while the main
// thread shows it. Work done ahead of the run collects its boxes instead,
// and the run shows them when it takes that favourite, so boxes appear in
// the order of the favourites whatever the order the work ran in.
#include <QString>
#include <QStringList>

namespace catalogue {

// Shows text now (on the main thread, the calling worker waiting) or, when
// the calling thread has a collector, keeps it there.
void ShowWorkerMessage(const QString& text);

// Collects the boxes of the calling thread while it exists.
class WorkerMessageCollector {
public:
    WorkerMessageCollector();
    ~WorkerMessageCollector();
    WorkerMessageCollector(const WorkerMessageCollector&) = delete;
    WorkerMessageCollector& operator=(const WorkerMessageCollector&) = delete;

    const QStringList& messages() const { return messages_; }

private:
    friend void ShowWorkerMessage(const QString& text);
    QStringList messages_;
    WorkerMessageCollector* outer_;
};

} // namespace catalogue
