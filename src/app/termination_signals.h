#pragma once
// SIGINT and SIGTERM end the program the way "C&lose" does. The signal
// handler only writes a byte into a pipe; the event loop reads it and emits
// terminationRequested() on the main thread, where closing is safe.
#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace app {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; only one instance may exist at a time.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readPipe();
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace app
