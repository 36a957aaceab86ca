#include "platform/file_ops.h"

#include "platform/dir_enum.h"
#include "platform/trash.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool fail(int* errorCode, int error) {
    if (errorCode)
        *errorCode = error;
    return false;
}

} // namespace

bool deleteMatchingFiles(const QString& folder, const QString& mask, bool allowUndo) {
    bool allGone = true;
    for (const DirEntry& entry : listDirectory(folder, mask)) {
        if (entry.isDirectory)
            continue;
        const QString path = QDir::cleanPath(folder + QLatin1Char('/') + entry.name);
        const bool removed =
            allowUndo ? moveFileToTrash(path) : ::unlink(QFile::encodeName(path).constData()) == 0;
        allGone = allGone && removed;
    }
    return allGone;
}

bool renameNoReplace(const QString& from, const QString& to, int* errorCode) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return fail(errorCode, errno);

    // The file system cannot refuse by itself: a hard link fails when the
    // target exists, and the old name then goes.
    if (::link(source.constData(), target.constData()) == 0) {
        if (::unlink(source.constData()) == 0)
            return true;
        const int error = errno;
        ::unlink(target.constData());
        return fail(errorCode, error);
    }
    if (errno == EEXIST)
        return fail(errorCode, EEXIST);
    // Folders cannot be linked: check, then rename.
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0)
        return fail(errorCode, EEXIST);
    if (::rename(source.constData(), target.constData()) == 0)
        return true;
    return fail(errorCode, errno);
}

} // namespace platform
