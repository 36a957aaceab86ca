#include "app/termination_signals.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace app {

namespace {

int writeEnd = -1;

void onSignal(int signalNumber) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0) {
        // A full pipe already holds a pending request; losing this byte is fine.
        [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    }
}

void install(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = fds_[1];
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    install(onSignal);
}

TerminationSignals::~TerminationSignals() {
    install(SIG_DFL);
    writeEnd = -1;
    notifier_.reset();
    for (int fd : fds_)
        if (fd >= 0)
            ::close(fd);
}

void TerminationSignals::readPipe() {
    unsigned char byte = 0;
    while (::read(fds_[0], &byte, 1) == 1)
        emit terminationRequested(byte);
}

} // namespace app
