#include "platform/appended_file.h"

#include <QFile>

#include <cstdio>

namespace platform {

bool moveAsideIfFull(const QString& path, qint64 size, qint64 adding, qint64 limit) {
    if (size == 0 || size + adding <= limit)
        return false;
    // rename replaces the older file in one step.
    return std::rename(QFile::encodeName(path).constData(),
                       QFile::encodeName(path + QStringLiteral(".1")).constData()) == 0;
}

} // namespace platform
