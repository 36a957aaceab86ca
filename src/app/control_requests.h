#pragma once
// What the running copy does for the control requests of the command line:
// start a refresh run, cancel it, shut down, tell its status, or open the
// configuration window.
#include <QByteArray>

#include <functional>

namespace app {

class ProgramCore;

// The words on the channel, one request per connection.
inline constexpr char RefreshRequest[] = "refresh";
inline constexpr char CancelRequest[] = "cancel";
inline constexpr char QuitRequest[] = "quit";
inline constexpr char StatusRequest[] = "status";
inline constexpr char ShowRequest[] = "show";
// Every accepted request is answered with this line, then the text to show.
inline constexpr char AcceptedAnswer[] = "ok\n";

// Answers request and queues its work on the core, so the answer leaves before
// a cancel or a shutdown waits for the fetch in progress. An unknown request
// gets an empty answer. showWindow opens the configuration window; it returns
// false when there is none (no display).
QByteArray answerControlRequest(ProgramCore& core, const QByteArray& request,
                                const std::function<bool()>& showWindow);

} // namespace app
