#pragma once
// Writing a file whole, replacing the old one, so that a failed write never
// loses what was there: the new text goes to a temporary file in the same
// folder, which is then renamed over the old file.
#include <QByteArray>
#include <QString>

namespace platform {

// Returns false (and the reason in *error) when the file could not be
// replaced; the old file is then untouched. An existing file whose
// permission bits deny every kind of writing is refused even for root.
bool replaceFileWhole(const QString& path, const QByteArray& contents, QString* error = nullptr);

// The mkstemp template of the temporary file beside path that a whole-file
// write of path goes through; fileWrittenThrough and the removal of stale
// temporary files know files of this form.
QByteArray temporaryFileTemplate(const QString& path);

// The file whose whole-file write uses the temporary file at path, or an
// empty text when path names no such temporary file.
QString fileWrittenThrough(const QString& path);

// Removes the temporary files that writes interrupted by the end of the
// program (a crash, a kill) left in folder; returns how many. Call only
// while nothing writes there.
int removeStaleTemporaryFiles(const QString& folder);

// True when the permission bits of an existing file deny writing to everyone.
bool isWriteProtected(const QString& path);

} // namespace platform
