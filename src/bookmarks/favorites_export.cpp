#include "bookmarks/favorites_export.h"

#include "catalogue/shortcut_file.h"
#include "platform/dir_enum.h"
#include "webserver/http_answer.h"

namespace bookmarks {

namespace {

constexpr int UrlPropertyId = 2; // the address in a shortcut's first property set

QByteArray indent(int depth) {
    return QByteArray(4 * depth, ' ');
}

QByteArray escaped(const QString& text) {
    return webserver::htmlEscape(text.toUtf8());
}

void writeFolder(const QString& folder, int depth, QByteArray& out, ExportSummary& summary) {
    const QList<platform::DirEntry> entries = platform::listDirectory(folder);
    for (const platform::DirEntry& entry : entries) {
        if (!entry.isDirectory || entry.isSymLink)
            continue;
        ++summary.folders;
        out += indent(depth) + "<DT><H3>" + escaped(entry.name) + "</H3>\n";
        out += indent(depth) + "<DL><p>\n";
        writeFolder(folder + '/' + entry.name, depth + 1, out, summary);
        out += indent(depth) + "</DL><p>\n";
    }
    for (const platform::DirEntry& entry : entries) {
        if (entry.isDirectory || !platform::matchesMask(entry.name, QStringLiteral("*.url")))
            continue;
        catalogue::ShortcutFile shortcut;
        const QString url =
            shortcut.load(folder + '/' + entry.name)
                ? shortcut.value(catalogue::PropertySet::Shortcut, UrlPropertyId).text
                : QString();
        if (url.isEmpty()) {
            ++summary.withoutAddress;
            continue;
        }
        ++summary.bookmarks;
        const QString name = entry.name.left(entry.name.size() - 4);
        out += indent(depth) + "<DT><A HREF=\"" + escaped(url) + "\">" + escaped(name) + "</A>\n";
    }
}

} // namespace

QByteArray FavoritesAsHtml(const QString& favoritesFolder, ExportSummary* summary) {
    QByteArray out = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                     "<!-- The Favorites folder as bookmarks, for a browser to import. -->\n"
                     "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                     "<TITLE>Bookmarks</TITLE>\n"
                     "<H1>Bookmarks</H1>\n"
                     "<DL><p>\n";
    writeFolder(favoritesFolder, 1, out, *summary);
    out += "</DL><p>\n";
    return out;
}

} // namespace bookmarks
