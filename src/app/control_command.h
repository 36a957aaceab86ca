#pragma once
// The command-line side of the control requests: sends one request to the
// running copy of this user and prints its answer. Never starts a copy.
#include <QByteArray>

namespace app {

// Exit status when no copy runs ("Pagorama is not running").
inline constexpr int ExitNotRunning = 2;

// Sends request (one of the words in control_requests.h) and prints the
// answer on stdout as printable text. Returns 0 when the running copy
// accepted it, ExitNotRunning when no copy runs, and 1 when a copy runs but
// did not answer or refused this user, or when the control folder, socket,
// lock or listening process is another user's (nothing is sent then).
int sendControlRequest(const QByteArray& request);

} // namespace app
