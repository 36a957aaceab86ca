#include "webserver/document_path.h"

#include "platform/hex_digit.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTimeZone>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace webserver {

QByteArray percentDecode(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size()) {
            const int high = platform::hexDigitValue(text[at + 1]);
            const int low = platform::hexDigitValue(text[at + 2]);
            if (high >= 0 && low >= 0) {
                out += char(high * 16 + low);
                at += 2;
                continue;
            }
        }
        out += text[at];
    }
    return out;
}

namespace {

bool canonicalInside(const QString& root, const QString& target) {
    if (root.isEmpty() || target.isEmpty())
        return false;
    return target == root || target.startsWith(root.endsWith('/') ? root : root + '/');
}

} // namespace

std::optional<QString> mapDocumentPath(const QString& docDir, const QString& defaultDoc,
                                       const QByteArray& path) {
    QByteArray relative = path;
    if (relative.endsWith('/'))
        relative += QFile::encodeName(defaultDoc);
    relative = percentDecode(relative);
    if (relative.contains('\0'))
        return std::nullopt;
    relative.replace('\\', '/');

    QList<QByteArray> kept;
    for (const QByteArray& segment : relative.split('/')) {
        if (segment.isEmpty() || segment == ".")
            continue;
        if (segment == "..") {
            if (kept.isEmpty())
                return std::nullopt;
            kept.removeLast();
            continue;
        }
        kept.append(segment);
    }
    // Decoded once as a whole: "/" separates the same way before decoding
    // and after.
    QByteArray joined;
    for (const QByteArray& segment : kept)
        joined.append('/').append(segment);
    QString document = docDir + QFile::decodeName(joined);
    // A path that ended in a separator names a folder; keep that visible so
    // it is never taken for a file.
    if (relative.endsWith('/') && !kept.isEmpty())
        document += '/';
    return document;
}

std::optional<QString> mapDocument(const QString& docDir, const QString& defaultDoc,
                                   const QByteArray& path, const QString& canonicalDocDir) {
    const std::optional<QString> mapped = mapDocumentPath(docDir, defaultDoc, path);
    if (!mapped)
        return mapped;
    const QString& document = *mapped;
    // Symbolic links may lead anywhere; what exists must resolve inside.
    const QString target = QFileInfo(document).canonicalFilePath();
    if (!target.isEmpty()) {
        const QString root =
            canonicalDocDir.isEmpty() ? QFileInfo(docDir).canonicalFilePath() : canonicalDocDir;
        if (!canonicalInside(root, target))
            return std::nullopt;
    }
    return document;
}

namespace {

// Opens relative below dirFd; the system refuses (EXDEV, ELOOP) whatever
// would resolve outside, through "..", an absolute path or any symbolic link.
int openBeneath(int dirFd, const QByteArray& relative) {
    static bool unsupported = false;
    if (unsupported) {
        errno = ENOSYS;
        return -1;
    }
    open_how how{};
    how.flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const int fd = int(::syscall(SYS_openat2, dirFd, relative.constData(), &how, sizeof how));
    if (fd < 0 && errno == ENOSYS)
        unsupported = true;
    return fd;
}

void fill(OpenedDocument* opened, int fd, const struct stat& status) {
    opened->fd = fd;
    opened->size = status.st_size;
    opened->modified = QDateTime::fromSecsSinceEpoch(status.st_mtim.tv_sec, Qt::UTC);
}

} // namespace

int openDocumentFolder(const QString& folder) {
    return ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

OpenResult openDocument(const QString& path, const QString& canonicalDocDir, OpenedDocument* opened,
                        int docDirFd, qsizetype relativeStart) {
    if (docDirFd >= 0 && relativeStart > 0 && relativeStart < path.size()) {
        const int fd = openBeneath(docDirFd, QFile::encodeName(path.mid(relativeStart)));
        struct stat status {};
        if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
            fill(opened, fd, status);
            return OpenResult::Opened;
        }
        if (fd >= 0)
            ::close(fd);
        // Anything else takes the full check below, which gives the answer.
    }
    // Non-blocking, so that a named pipe cannot stall the server.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EPERM ? OpenResult::Unreadable : OpenResult::Missing;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return OpenResult::NotAFile;
    }
    // Where the opened file really is, links resolved, in one step.
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char real[PATH_MAX];
    const ssize_t length = ::readlink(link, real, sizeof real - 1);
    const QString target = length > 0 ? QFile::decodeName(QByteArray(real, length))
                                      : QFileInfo(path).canonicalFilePath();
    if (!canonicalInside(canonicalDocDir, target)) {
        ::close(fd);
        return OpenResult::Outside;
    }
    fill(opened, fd, status);
    return OpenResult::Opened;
}

bool liesInside(const QString& docDir, const QString& path) {
    return canonicalInside(QFileInfo(docDir).canonicalFilePath(),
                           QFileInfo(path).canonicalFilePath());
}

} // namespace webserver
