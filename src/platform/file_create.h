#pragma once
// Creating a new file whole without ever replacing one: the text goes to a
// temporary file in the same folder, which then takes the name only while
// nothing else has it. Nobody ever sees a half-written file under the name.
// Unlike replacing a file, there is no old text to protect, so nothing is
// flushed per file: a caller that creates many syncs once at the end.
#include <QByteArray>
#include <QString>

namespace platform {

enum class CreateResult { Created, NameTaken, Failed };

// Failed carries the reason in *error; NameTaken leaves everything as it was.
CreateResult createFileWhole(const QString& path, const QByteArray& contents,
                             QString* error = nullptr);

// Flushes everything written to the file system that holds path.
bool syncFileSystem(const QString& path);

} // namespace platform
