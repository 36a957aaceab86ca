#pragma once
// What the running copy does for the control requests of the command line:
// start a refresh run, cancel it, shut down, or tell its status.
#include <QByteArray>

namespace app {

class ProgramCore;

// The words on the channel, one request per connection.
inline constexpr char RefreshRequest[] = "refresh";
inline constexpr char CancelRequest[] = "cancel";
inline constexpr char QuitRequest[] = "quit";
inline constexpr char StatusRequest[] = "status";
// Every accepted request is answered with this line, then the text to show.
inline constexpr char AcceptedAnswer[] = "ok\n";

// Answers request and queues its work on the core, so the answer leaves before
// a cancel or a shutdown waits for the fetch in progress. An unknown request
// gets an empty answer.
QByteArray answerControlRequest(ProgramCore& core, const QByteArray& request);

} // namespace app
