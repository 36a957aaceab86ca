#pragma once
// Runs the built pagorama program once with options that do one job and
// end, in a temporary HOME without a display, and collects what it printed,
// its exit status and the most memory it held.
#include "support/temp_home.h"

#include <QByteArray>
#include <QStringList>

namespace e2e {

struct CommandResult {
    int exitCode = -1;   // -1: killed, or still running at the time-out
    QByteArray out, err; // standard output and error
    long maxRssKiB = 0;  // the most resident memory it held
    qint64 elapsedMs = 0;
};

CommandResult runPagoramaCommand(const testsupport::TempHome& home, const QStringList& arguments,
                                 int timeoutMs = 60000);

} // namespace e2e
