#pragma once
// Files the program keeps appending to (the server log, the copy of every
// form) stay bounded: once the next write would take one past its limit,
// it becomes "<name>.1", replacing an older one, and a new file begins.
#include <QString>

namespace platform {

inline constexpr qint64 kAppendedFileLimit = 16 * 1024 * 1024;

// Moves the file aside when adding bytes to its size would pass limit;
// true when it was moved (the caller then starts a new file).
bool moveAsideIfFull(const QString& path, qint64 size, qint64 adding,
                     qint64 limit = kAppendedFileLimit);

} // namespace platform
