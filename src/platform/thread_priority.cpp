#include "platform/thread_priority.h"

#include <algorithm>
#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

void runCallingThreadInBackground() {
    const auto thread = id_t(::syscall(SYS_gettid));
    // A thread that inherited another class is put back into the normal one.
    sched_param normal{};
    ::sched_setscheduler(pid_t(thread), SCHED_OTHER, &normal);
    // On Linux the nice value is per thread: the process's own stays as it is.
    errno = 0;
    const int processNice = ::getpriority(PRIO_PROCESS, id_t(::getpid()));
    const int base = errno == 0 ? processNice : 0;
    ::setpriority(PRIO_PROCESS, thread, std::min(base + BackgroundNiceIncrement, 19));
}

} // namespace platform
