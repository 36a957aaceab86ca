#pragma once
// Background work that must not slow the window or the web server, and must
// not stall either: the calling thread keeps normal scheduling and gets a
// raised nice value. (Linux's idle scheduling class would stop it for
// seconds whenever other processes fill the cores.)

namespace platform {

// How much nicer than the process a background thread runs.
constexpr int BackgroundNiceIncrement = 10;

// Applies to the calling thread only; threads it starts inherit it.
void runCallingThreadInBackground();

} // namespace platform
