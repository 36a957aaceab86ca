#include "pages/start_page.h"

#include "pages/builtin_texts.h"

#include <QSet>
#include <QUrl>

namespace pages {

namespace {

// Markup-safe ASCII: the page declares a single-byte character set, so
// every character outside printable ASCII is a numeric reference, and the
// controls that HTML does not allow become the replacement character.
QByteArray escapedText(const QString& text) {
    QByteArray out;
    for (const char32_t code : text.toUcs4()) {
        if (code == '&')
            out += "&amp;";
        else if (code == '<')
            out += "&lt;";
        else if (code == '>')
            out += "&gt;";
        else if (code == '"')
            out += "&quot;";
        else if (code >= 32 && code < 127)
            out += char(code);
        else if (code < 32 || (code >= 127 && code < 160))
            out += "&#65533;";
        else
            out += "&#" + QByteArray::number(uint(code)) + ';';
    }
    return out;
}

QByteArray folderList(const std::vector<FolderPages>& folders, bool editPages) {
    QByteArray list = "<p>Your favourites are in folders: none lies directly in the Favorites "
                      "folder.<br>Choose a folder to ";
    list += editPages ? "edit its favourites:</p>\n<ul>\n" : "see its pictures:</p>\n<ul>\n";
    for (const FolderPages& folder : highestFolders(folders)) {
        const QString& page = editPages ? folder.editPage : folder.viewPage;
        list += "<li><a href=\"" + QUrl::toPercentEncoding(page) + "\">" +
                escapedText(folder.location) + "</a></li>\n";
    }
    return list + "</ul>";
}

const char noFavourites[] =
    "<p>Pagorama found no web favourites in your Favorites folder.</p>\n"
    "<p>Pagorama shows the Internet shortcuts (.url files) in the Favorites folder of your home "
    "folder. To bring in your browser's bookmarks, run\n"
    "<code>pagorama --import-bookmarks chromium</code> or "
    "<code>pagorama --import-bookmarks firefox</code>,\n"
    "or <code>pagorama --import-bookmarks FILE</code> with a bookmarks file exported from any "
    "browser;\nthen start a refresh from the tray menu or with <code>pagorama --refresh</code>."
    "</p>";

} // namespace

bool needsStartPage(const std::vector<FolderPages>& folders) {
    for (const FolderPages& folder : folders)
        if (folder.location.isEmpty())
            return false;
    return true;
}

std::vector<FolderPages> highestFolders(const std::vector<FolderPages>& folders) {
    QSet<QString> listed;
    for (const FolderPages& folder : folders)
        listed.insert(folder.location);
    std::vector<FolderPages> highest;
    for (const FolderPages& folder : folders) {
        bool inside = false;
        for (qsizetype at = folder.location.lastIndexOf('\\'); at > 0 && !inside;
             at = folder.location.lastIndexOf('\\', at - 1))
            inside = listed.contains(folder.location.left(at));
        if (!inside)
            highest.push_back(folder);
    }
    return highest;
}

QByteArray startPageText(const std::vector<FolderPages>& folders, bool editPages) {
    QByteArray page = builtinText(BuiltinText::StartPage);
    page.replace("<!--FOLDERS-->",
                 folders.empty() ? QByteArray(noFavourites) : folderList(folders, editPages));
    return page;
}

} // namespace pages
