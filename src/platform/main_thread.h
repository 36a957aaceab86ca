#pragma once
// Calls that must run on the application's main thread (message boxes, GUI
// objects) from whichever thread needs them.
#include <functional>

namespace platform {

// True on the main thread of a running application; false elsewhere and
// while no application object exists.
bool isMainThread();

// Runs call on the main thread and returns when it has run: at once when
// already there (or when there is no application object), else queued to the
// main thread while this thread waits. The main thread must not be waiting
// for the calling thread meanwhile.
void runOnMainThread(const std::function<void()>& call);

} // namespace platform
