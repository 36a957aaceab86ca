#include "bookmarks/bookmarks.h"

#include "bookmarks/chromium_bookmarks.h"
#include "bookmarks/firefox_bookmarks.h"
#include "bookmarks/html_bookmarks.h"
#include "bookmarks/source_file.h"
#include "platform/browser_places.h"
#include "platform/file_replace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace bookmarks {

namespace {

QString bookmarksCount(qint64 count) {
    return count == 1 ? QStringLiteral("1 bookmark") : QStringLiteral("%1 bookmarks").arg(count);
}

// Reads the file each profile of the family keeps its bookmarks in (a
// profile without one is passed over); false with result.error set when
// one cannot be read, or, unless quietWhenNone, when no profile has one.
bool readFamily(platform::BrowserFamily family, TreeBuilder& builder, ImportResult& result,
                bool quietWhenNone) {
    const bool firefox = family == platform::BrowserFamily::Firefox;
    const platform::BrowserProfiles found = platform::findBrowserProfiles(family);
    result.skipped << found.skipped;
    int read = 0;
    for (const platform::BrowserProfile& profile : found.profiles) {
        const QString file = profile.folder + (firefox ? QStringLiteral("/places.sqlite")
                                                       : QStringLiteral("/Bookmarks"));
        if (!QFileInfo(file).isFile())
            continue;
        const qint64 before = builder.added();
        QString error;
        if (firefox) {
            if (!ReadFirefoxBookmarks(file, builder, &error)) {
                result.error = error;
                return false;
            }
        } else {
            QByteArray json;
            if (!ReadSourceFile(file, &json, &error)) {
                result.error = error;
                return false;
            }
            if (!ReadChromiumBookmarks(json, builder, &error)) {
                result.error = QStringLiteral("%1: %2").arg(file, error);
                return false;
            }
        }
        result.sources << file;
        result.read << profile.label() + QStringLiteral(": ") +
                           bookmarksCount(builder.added() - before);
        ++read;
    }
    if (read == 0 && !quietWhenNone) {
        result.error =
            QStringLiteral("No %1 bookmarks found (no profile with a %2 in %3)")
                .arg(firefox ? QStringLiteral("Firefox") : QStringLiteral("Chromium"),
                     firefox ? QStringLiteral("places.sqlite") : QStringLiteral("Bookmarks file"),
                     platform::searchedPlaces(family));
        return false;
    }
    return true;
}

bool readHtmlFile(const QString& path, TreeBuilder& builder, ImportResult& result) {
    QByteArray html;
    QString error;
    if (!ReadSourceFile(path, &html, &error)) {
        result.error = error;
        return false;
    }
    if (!ReadHtmlBookmarks(html, builder, &error)) {
        result.error = QStringLiteral("%1: %2").arg(path, error);
        return false;
    }
    result.sources << path;
    return true;
}

// Why the entry at path (links followed) may not be replaced by a regular
// file; empty when it is one or there is none.
QString notRegularFile(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || S_ISREG(info.st_mode))
        return {};
    const char* kind = S_ISDIR(info.st_mode)                            ? "a folder"
                       : S_ISFIFO(info.st_mode)                         ? "a FIFO"
                       : S_ISSOCK(info.st_mode)                         ? "a socket"
                       : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                                                                        : "not a file";
    return QStringLiteral("%1: %2, not a regular file; only a regular file is replaced")
        .arg(path, QLatin1String(kind));
}

bool writeStandardOutput(const QByteArray& bytes, QString* error) {
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
        std::fflush(stdout) == 0)
        return true;
    *error =
        QStringLiteral("standard output: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

} // namespace

bool readBookmarks(const QString& source, BookmarkTree& tree, ImportResult& result) {
    TreeBuilder builder(tree);
    using platform::BrowserFamily;
    if (source.compare(QLatin1String("chromium"), Qt::CaseInsensitive) == 0)
        return readFamily(BrowserFamily::Chromium, builder, result, false);
    if (source.compare(QLatin1String("firefox"), Qt::CaseInsensitive) == 0)
        return readFamily(BrowserFamily::Firefox, builder, result, false);
    if (source.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        if (!readFamily(BrowserFamily::Chromium, builder, result, true) ||
            !readFamily(BrowserFamily::Firefox, builder, result, true))
            return false;
        if (result.sources.isEmpty()) {
            result.error = QStringLiteral("No browser bookmarks found (searched %1; %2)")
                               .arg(platform::searchedPlaces(BrowserFamily::Chromium),
                                    platform::searchedPlaces(BrowserFamily::Firefox));
            return false;
        }
        return true;
    }
    return readHtmlFile(source, builder, result);
}

QString ImportResult::text() const {
    QStringList lines = read;
    lines << summary.text();
    return lines.join(QLatin1Char('\n'));
}

ImportResult importBookmarks(const QString& source, const QString& favoritesFolder,
                             const NoteCreated& noteCreated) {
    ImportResult result;
    BookmarkTree tree;
    if (!readBookmarks(source, tree, result))
        return result;
    result.summary = WriteIntoFavorites(tree, favoritesFolder, noteCreated);
    result.error = result.summary.error;
    result.ok = result.error.isEmpty();
    return result;
}

ExportResult exportBookmarks(const QString& favoritesFolder, const QString& file) {
    ExportResult result;
    if (!QFileInfo(favoritesFolder).isDir()) {
        result.error = QStringLiteral("%1: no Favorites folder to export").arg(favoritesFolder);
        return result;
    }
    const bool toOutput = file == QLatin1String(StandardOutputName);
    const QString path = toOutput ? QString() : QFileInfo(file).absoluteFilePath();
    result.error = toOutput ? QString() : notRegularFile(path);
    if (!result.error.isEmpty())
        return result;
    const QByteArray html = FavoritesAsHtml(QDir::cleanPath(favoritesFolder), &result.summary);
    if (toOutput ? !writeStandardOutput(html, &result.error)
                 : !platform::replaceFileWhole(path, html, &result.error))
        return result;
    result.ok = true;
    return result;
}

} // namespace bookmarks
