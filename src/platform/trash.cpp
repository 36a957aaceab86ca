#include "platform/trash.h"

#include "platform/file_ops.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool writeAll(int fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Reserves a name in the Trash by creating its info file exclusively.
QString reserveName(const QString& trash, const QString& baseName, const QByteArray& info) {
    const QFileInfo base(baseName);
    for (int n = 1; n < 10000; ++n) {
        QString name = baseName;
        if (n > 1) {
            const QString suffix = base.completeSuffix();
            name = base.baseName() + QStringLiteral(" %1").arg(n) +
                   (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
        }
        if (QFileInfo::exists(trash + "/files/" + name))
            continue;
        const QByteArray infoPath = QFile::encodeName(trash + "/info/" + name + ".trashinfo");
        const int fd = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return {};
        }
        const bool written = writeAll(fd, info);
        ::close(fd);
        if (!written) {
            ::unlink(infoPath.constData());
            return {};
        }
        return name;
    }
    return {};
}

bool copyThenRemove(const QString& from, const QString& to) {
    if (!QFile::copy(from, to))
        return false;
    if (QFile::remove(from))
        return true;
    QFile::remove(to);
    return false;
}

} // namespace

QString homeTrashFolder() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome)) {
        const QString home = qEnvironmentVariable("HOME");
        dataHome = (home.isEmpty() ? QDir::homePath() : home) + "/.local/share";
    }
    return QDir::cleanPath(dataHome) + "/Trash";
}

bool moveFileToTrash(const QString& path) {
    const QFileInfo source(path);
    if (!source.exists() && !source.isSymLink())
        return false;
    const QString trash = homeTrashFolder();
    if (!QDir().mkpath(trash + "/files") || !QDir().mkpath(trash + "/info"))
        return false;
    ::chmod(QFile::encodeName(trash).constData(), 0700);

    const QString absolute = source.absoluteFilePath();
    const QByteArray info =
        "[Trash Info]\nPath=" + QUrl::toPercentEncoding(absolute, "/") +
        "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + "\n";
    const QString name = reserveName(trash, source.fileName(), info);
    if (name.isEmpty())
        return false;
    const QString target = trash + "/files/" + name;
    int error = 0;
    if (renameNoReplace(absolute, target, &error))
        return true;
    if (error == EXDEV && !source.isDir() && copyThenRemove(absolute, target))
        return true;
    QFile::remove(trash + "/info/" + name + ".trashinfo");
    return false;
}

} // namespace platform
