#pragma once
// Writes the Favorites tree as a bookmarks HTML file that browsers import:
// every folder as a folder, every Internet shortcut as a bookmark named
// after its file.
#include <QByteArray>
#include <QString>

namespace bookmarks {

struct ExportSummary {
    int bookmarks = 0;
    int folders = 0;
    int withoutAddress = 0; // shortcuts that hold no address, left out
};

// The file's text for the tree below favoritesFolder.
QByteArray FavoritesAsHtml(const QString& favoritesFolder, ExportSummary* summary);

} // namespace bookmarks
