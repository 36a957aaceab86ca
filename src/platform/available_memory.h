#pragma once
// How much memory the system could hand out now, so that work which costs
// memory per task (browser tabs, parallel fetches) can size itself.

namespace platform {

// MemAvailable of /proc/meminfo in MiB; -1 when it cannot be read.
long availableMemoryMiB();

} // namespace platform
