#pragma once
// The desktop's autostart entry that stands in for the registry's Run value:
// $XDG_CONFIG_HOME/autostart/pagorama.desktop starts the program at log-in.
#include <QString>

namespace platform {

QString autostartFilePath();
// The absolute path of the running program's binary, for the entry: where it
// was started from, also when that file has been replaced since (an upgrade).
QString runningProgramPath();
// Writes the entry so that the session starts the program at path (one
// executable path, used as it is, not split at blanks).
bool writeAutostartEntry(const QString& executablePath, QString* error = nullptr);
// Removes the entry; true when it is gone (also when it never existed).
bool removeAutostartEntry();

} // namespace platform
