#include "webserver/document_path.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTimeZone>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace webserver {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray percentDecode(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size()) {
            const int high = hexValue(text[at + 1]);
            const int low = hexValue(text[at + 2]);
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
    QString document = docDir;
    for (const QByteArray& segment : kept)
        document += '/' + QFile::decodeName(segment);
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

OpenResult openDocument(const QString& path, const QString& canonicalDocDir,
                        OpenedDocument* opened) {
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
    opened->fd = fd;
    opened->size = status.st_size;
    opened->modified = QDateTime::fromSecsSinceEpoch(status.st_mtim.tv_sec, QTimeZone::utc());
    return OpenResult::Opened;
}

bool liesInside(const QString& docDir, const QString& path) {
    return canonicalInside(QFileInfo(docDir).canonicalFilePath(),
                           QFileInfo(path).canonicalFilePath());
}

} // namespace webserver
