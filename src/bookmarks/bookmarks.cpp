#include "bookmarks/bookmarks.h"

#include "bookmarks/chromium_bookmarks.h"
#include "bookmarks/firefox_bookmarks.h"
#include "bookmarks/html_bookmarks.h"
#include "bookmarks/source_file.h"
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

bool readChromium(TreeBuilder& builder, ImportResult& result) {
    const QStringList files = ChromiumBookmarkFiles();
    if (files.isEmpty()) {
        result.error =
            QStringLiteral("No Chromium bookmarks found (no profile with a Bookmarks file in "
                           "~/.config/chromium or ~/.config/google-chrome)");
        return false;
    }
    for (const QString& file : files) {
        QByteArray json;
        QString error;
        if (!ReadSourceFile(file, &json, &error)) {
            result.error = error;
            return false;
        }
        if (!ReadChromiumBookmarks(json, builder, &error)) {
            result.error = QStringLiteral("%1: %2").arg(file, error);
            return false;
        }
        result.sources << file;
    }
    return true;
}

bool readFirefox(TreeBuilder& builder, ImportResult& result) {
    const QStringList files = FirefoxPlacesFiles();
    if (files.isEmpty()) {
        result.error =
            QStringLiteral("No Firefox bookmarks found (no profile with a places.sqlite in "
                           "~/.mozilla/firefox/profiles.ini)");
        return false;
    }
    for (const QString& file : files) {
        QString error;
        if (!ReadFirefoxBookmarks(file, builder, &error)) {
            result.error = error;
            return false;
        }
        result.sources << file;
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
    if (source.compare(QLatin1String("chromium"), Qt::CaseInsensitive) == 0)
        return readChromium(builder, result);
    if (source.compare(QLatin1String("firefox"), Qt::CaseInsensitive) == 0)
        return readFirefox(builder, result);
    return readHtmlFile(source, builder, result);
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
