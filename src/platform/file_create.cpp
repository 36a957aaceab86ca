#include "platform/file_create.h"

#include "platform/file_ops.h"
#include "platform/file_replace.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString reason(const QString& path, int error) {
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(error)));
}

} // namespace

CreateResult createFileWhole(const QString& path, const QByteArray& contents, QString* error) {
    // Named as a whole-file write names it, so the folder watch knows it as
    // part of the program's own change and a stale one is cleaned up.
    QByteArray temp = temporaryFileTemplate(path);
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        if (error)
            *error = reason(path, errno);
        return CreateResult::Failed;
    }
    const char* p = contents.constData();
    qsizetype left = contents.size();
    int writeError = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            writeError = errno;
            break;
        }
        p += n;
        left -= n;
    }
    // The mode a new file gets when written whole (mkstemp makes it private).
    if (!writeError && ::fchmod(fd, 0644) != 0)
        writeError = errno;
    if (::close(fd) != 0 && !writeError)
        writeError = errno;
    int renameError = 0;
    if (!writeError && renameNoReplace(QFile::decodeName(temp), path, &renameError))
        return CreateResult::Created;
    ::unlink(temp.constData());
    if (!writeError && renameError == EEXIST)
        return CreateResult::NameTaken;
    if (error)
        *error = reason(path, writeError ? writeError : renameError);
    return CreateResult::Failed;
}

bool syncFileSystem(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::syncfs(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace platform
