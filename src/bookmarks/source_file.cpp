#include "bookmarks/source_file.h"

#include "bookmarks/bookmark_tree.h"

#include <QFile>
#include <QFileInfo>

namespace bookmarks {

bool ReadSourceFile(const QString& path, QByteArray* contents, QString* error) {
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("%1: no such file").arg(path);
        return false;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("%1: not a file").arg(path);
        return false;
    }
    if (info.size() > MaxSourceBytes) {
        *error = QStringLiteral("%1: larger than %2 MiB, not read")
                     .arg(path)
                     .arg(MaxSourceBytes / (1024 * 1024));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    // Read at most one byte beyond the limit: a file that grows while it is
    // read is refused too.
    *contents = file.read(MaxSourceBytes + 1);
    if (contents->size() > MaxSourceBytes) {
        contents->clear();
        *error = QStringLiteral("%1: larger than %2 MiB, not read")
                     .arg(path)
                     .arg(MaxSourceBytes / (1024 * 1024));
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace bookmarks
