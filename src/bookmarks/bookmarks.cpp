#include "bookmarks/bookmarks.h"

#include "bookmarks/chromium_bookmarks.h"
#include "bookmarks/firefox_bookmarks.h"
#include "bookmarks/html_bookmarks.h"
#include "bookmarks/source_file.h"
#include "platform/file_replace.h"

#include <QDir>
#include <QFileInfo>

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
    const QByteArray html = FavoritesAsHtml(QDir::cleanPath(favoritesFolder), &result.summary);
    QString error;
    if (!platform::replaceFileWhole(QFileInfo(file).absoluteFilePath(), html, &error)) {
        result.error = error;
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace bookmarks
