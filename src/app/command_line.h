#pragma once
// The command-line options that do one job and end instead of starting the
// program: they run before any window, web server or check for another
// running copy.
#include <optional>

namespace app {

// Exit statuses of the one-job options.
inline constexpr int ExitSucceeded = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// Handles the options in argv. Returns the exit status when an option did
// its job (or was wrong), nothing when the program is to start as usual.
std::optional<int> runCommandLineOptions(int argc, char** argv);

// Whether the program that starts is to show its configuration window at
// once (--show when no copy was running).
bool showWindowAsked(int argc, char** argv);

} // namespace app
