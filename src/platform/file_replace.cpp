#include "platform/file_replace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The temporary file of "name" is ".name" + this + six random characters.
constexpr char TemporaryMarker[] = ".partial-";

bool fail(QString* error, const QString& text) {
    if (error)
        *error = text;
    return false;
}

bool writeAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

bool isWriteProtected(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool replaceFileWhole(const QString& path, const QByteArray& contents, QString* error) {
    const QByteArray target = QFile::encodeName(path);
    if (isWriteProtected(path))
        return fail(error, QString("%1: %2").arg(path, QString::fromLocal8Bit(strerror(EACCES))));

    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.constData(), &st) == 0)
        mode = st.st_mode & 07777;

    QByteArray temp = temporaryFileTemplate(path);
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return fail(error, QString("%1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
    const bool written = writeAll(fd, contents) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temp.constData());
        return fail(error,
                    QString("%1: %2").arg(path, QString::fromLocal8Bit(strerror(savedErrno))));
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int renameErrno = errno;
        ::unlink(temp.constData());
        return fail(error,
                    QString("%1: %2").arg(path, QString::fromLocal8Bit(strerror(renameErrno))));
    }
    return true;
}

} // namespace platform

namespace platform {

QByteArray temporaryFileTemplate(const QString& path) {
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath() + QStringLiteral("/."));
    const QByteArray name = QFile::encodeName(info.fileName());
    // A name near the longest one a folder takes leaves no room for the
    // marker; its write then goes through the short form, which works but
    // is not known as a temporary file afterwards.
    if (1 + name.size() + qsizetype(sizeof TemporaryMarker - 1) + 6 <= NAME_MAX)
        return folder + name + TemporaryMarker + "XXXXXX";
    return folder + name + ".XXXXXX";
}

QString fileWrittenThrough(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    const qsizetype marker = name.size() - 6 - qsizetype(sizeof TemporaryMarker - 1);
    if (marker < 2 || !name.startsWith(QLatin1Char('.')) ||
        !QStringView(name).mid(marker).startsWith(QLatin1String(TemporaryMarker)))
        return {};
    return path.left(slash + 1) + name.mid(1, marker - 1);
}

int removeStaleTemporaryFiles(const QString& folder) {
    int removed = 0;
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({QLatin1String(".*") + QLatin1String(TemporaryMarker) + "??????"},
                      QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        if (QFile::remove(dir.filePath(name)))
            ++removed;
    return removed;
}

} // namespace platform
