#pragma once
// Reading one bookmarks source file whole, with the checks every reader
// shares: it must exist, be a readable regular file and not be larger than
// MaxSourceBytes.
#include <QByteArray>
#include <QString>

namespace bookmarks {

// The file's bytes; false with a message in *error when it cannot be read.
bool ReadSourceFile(const QString& path, QByteArray* contents, QString* error);

} // namespace bookmarks
