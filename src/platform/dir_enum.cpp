#include "platform/dir_enum.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace platform {

namespace {

// Iterative wildcard match with single backtracking point, case folded.
bool wildcardMatch(const QString& name, const QString& mask) {
    const QString n = name.toCaseFolded();
    const QString m = mask.toCaseFolded();
    qsizetype ni = 0, mi = 0, starMask = -1, starName = 0;
    while (ni < n.size()) {
        if (mi < m.size() && (m[mi] == QLatin1Char('?') || m[mi] == n[ni])) {
            ++ni;
            ++mi;
        } else if (mi < m.size() && m[mi] == QLatin1Char('*')) {
            starMask = mi++;
            starName = ni;
        } else if (starMask >= 0) {
            mi = starMask + 1;
            ni = ++starName;
        } else {
            return false;
        }
    }
    while (mi < m.size() && m[mi] == QLatin1Char('*'))
        ++mi;
    return mi == m.size();
}

QDateTime fromTimestamp(const struct statx_timestamp& ts) {
    return QDateTime::fromMSecsSinceEpoch(qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

bool statEntry(int dirFd, const QByteArray& name, int flags, struct statx* out) {
    return ::statx(dirFd, name.constData(), flags | AT_NO_AUTOMOUNT,
                   STATX_BASIC_STATS | STATX_BTIME, out) == 0;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

} // namespace

bool matchesMask(const QString& name, const QString& mask) {
    if (wildcardMatch(name, mask))
        return true;
    // "x.*" also names "x" without an extension.
    if (mask.endsWith(QLatin1String(".*")) && !name.contains(QLatin1Char('.')))
        return wildcardMatch(name, mask.left(mask.size() - 2));
    return false;
}

QList<DirEntry> listDirectory(const QString& folder, const QString& mask) {
    QList<DirEntry> entries;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(QFile::encodeName(folder).constData()));
    if (!dir)
        return entries;
    const int dirFd = ::dirfd(dir.get());
    while (const dirent* item = ::readdir(dir.get())) {
        const QByteArray raw(item->d_name);
        if (raw == "." || raw == "..")
            continue;
        DirEntry entry;
        entry.name = QFile::decodeName(raw);
        if (!matchesMask(entry.name, mask))
            continue;
        struct statx own {};
        if (!statEntry(dirFd, raw, AT_SYMLINK_NOFOLLOW, &own))
            continue; // vanished between readdir and stat
        entry.isSymLink = S_ISLNK(own.stx_mode);
        entry.isDirectory = S_ISDIR(own.stx_mode);
        // A link to a file reports its target's size and times; a link to a
        // folder (or a dangling one) reports the link itself.
        struct statx info = own;
        if (entry.isSymLink) {
            struct statx target {};
            if (statEntry(dirFd, raw, 0, &target) && !S_ISDIR(target.stx_mode))
                info = target;
        }
        entry.size = entry.isDirectory ? 0 : qint64(info.stx_size);
        entry.lastWriteTime = fromTimestamp(info.stx_mtime);
        entry.creationTime = (info.stx_mask & STATX_BTIME) ? fromTimestamp(info.stx_btime)
                                                           : fromTimestamp(info.stx_ctime);
        entries.append(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
        const int c = QString::compare(a.name, b.name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    return entries;
}

} // namespace platform
