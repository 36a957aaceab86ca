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

namespace {

// A path that mapping leaves as it is, as most are: "/" and a name, then
// more such segments, with nothing to decode, no other separator, no NUL,
// no empty, "." or ".." segment and no folder at the end.
bool isPlainPath(const QByteArray& path) {
    const char* text = path.constData();
    const qsizetype size = path.size();
    if (size < 2 || text[0] != '/' || text[size - 1] == '/')
        return false;
    qsizetype segmentStart = 1;
    for (qsizetype at = 1; at <= size; ++at) {
        const char c = at < size ? text[at] : '/';
        if (c == '%' || c == '\\' || c == '\0')
            return false;
        if (c != '/')
            continue;
        const qsizetype length = at - segmentStart;
        const char* segment = text + segmentStart;
        if (length == 0 || (length == 1 && segment[0] == '.') ||
            (length == 2 && segment[0] == '.' && segment[1] == '.'))
            return false;
        segmentStart = at + 1;
    }
    return true;
}

} // namespace

std::optional<QByteArray> mapRequestPath(const QByteArray& defaultDocName,
                                         const QByteArray& path) {
    if (isPlainPath(path))
        return path; // already in the mapped form
    // One pass over the decoded bytes, each kept segment appended with its
    // "/" before it; ".." cuts the last one off again.
    const QByteArray relative = percentDecode(path.endsWith('/') ? path + defaultDocName : path);
    if (relative.contains('\0'))
        return std::nullopt;
    QByteArray joined;
    joined.reserve(relative.size() + 1);
    const char* const text = relative.constData();
    const qsizetype size = relative.size();
    for (qsizetype at = 0; at <= size;) {
        qsizetype end = at;
        while (end < size && text[end] != '/' && text[end] != '\\')
            ++end;
        const qsizetype length = end - at;
        if (length == 0 || (length == 1 && text[at] == '.')) {
            // nothing to keep
        } else if (length == 2 && text[at] == '.' && text[at + 1] == '.') {
            if (joined.isEmpty())
                return std::nullopt;
            joined.truncate(joined.lastIndexOf('/'));
        } else {
            joined.append('/').append(text + at, length);
        }
        at = end + 1;
    }
    // A path that ended in a separator names a folder; keep that visible so
    // it is never taken for a file.
    if (size > 0 && (text[size - 1] == '/' || text[size - 1] == '\\') && !joined.isEmpty())
        joined.append('/');
    return joined;
}

std::optional<QString> mapDocumentPath(const QString& docDir, const QString& defaultDoc,
                                       const QByteArray& path) {
    const std::optional<QByteArray> below = mapRequestPath(QFile::encodeName(defaultDoc), path);
    if (!below)
        return std::nullopt;
    return docDir + QFile::decodeName(*below);
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
int openBeneath(int dirFd, const char* relative) {
    static bool unsupported = false;
    if (unsupported) {
        errno = ENOSYS;
        return -1;
    }
    open_how how{};
    how.flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const int fd = int(::syscall(SYS_openat2, dirFd, relative, &how, sizeof how));
    if (fd < 0 && errno == ENOSYS)
        unsupported = true;
    return fd;
}

void fill(OpenedDocument* opened, int fd, const struct stat& status) {
    opened->fd = fd;
    opened->size = status.st_size;
    opened->modifiedSecs = status.st_mtim.tv_sec;
}

} // namespace

bool openDocumentBeneath(int docDirFd, const char* relative, OpenedDocument* opened) {
    const int fd = openBeneath(docDirFd, relative);
    struct stat status {};
    if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        fill(opened, fd, status);
        return true;
    }
    if (fd >= 0)
        ::close(fd);
    return false;
}

int openDocumentFolder(const QString& folder) {
    return ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

OpenResult openDocument(const QString& path, const QString& canonicalDocDir, OpenedDocument* opened,
                        int docDirFd, qsizetype relativeStart) {
    if (docDirFd >= 0 && relativeStart > 0 && relativeStart < path.size()) {
        if (openDocumentBeneath(docDirFd, QFile::encodeName(path.mid(relativeStart)).constData(),
                                opened))
            return OpenResult::Opened;
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
