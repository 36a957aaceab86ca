#include "platform/private_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString refusal(const QString& path, const QString& why) {
    return QStringLiteral("refusing %1: %2").arg(path, why);
}

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

QString anotherUser(uid_t owner) {
    return QStringLiteral("it belongs to another user (uid %1)").arg(owner);
}

// Why the folder open at fd is not this user's private folder; closes it
// first when it is this user's and open to others. Empty when it is ready.
QString closeOwnFolder(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return systemError(errno);
    if (info.st_uid != ::geteuid())
        return anotherUser(info.st_uid);
    if ((info.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0)
        return systemError(errno);
    return {};
}

} // namespace

PrivateFolder preparePrivateFolder(const QString& folder, MakeMissing make, QString* error) {
    const QByteArray path = QFile::encodeName(folder);
    int madeError = ENOENT;
    if (make == MakeMissing::Yes && !QFileInfo::exists(folder)) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        madeError = ::mkdir(path.constData(), 0700) == 0 ? 0 : errno;
    }
    // Opened without following a link, so the folder checked is the one
    // whose mode is set.
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        int code = errno;
        if (code == ENOENT && make == MakeMissing::No)
            return PrivateFolder::Missing;
        if (code == ENOENT && madeError != 0)
            code = madeError;
        *error =
            refusal(folder, code == ENOTDIR || code == ELOOP ? QStringLiteral("it is not a folder")
                                                             : systemError(code));
        return PrivateFolder::Refused;
    }
    const QString why = closeOwnFolder(fd);
    ::close(fd);
    if (why.isEmpty())
        return PrivateFolder::Ready;
    *error = refusal(folder, why);
    return PrivateFolder::Refused;
}

bool ownEntryOrNone(const QString& path, QString* error) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || info.st_uid == ::geteuid())
        return true;
    if (error)
        *error = refusal(path, anotherUser(info.st_uid));
    return false;
}

} // namespace platform
