#pragma once
// The first start with nothing to show: when the Favorites folder is missing
// or holds no shortcut, the user is offered the bookmarks of the browsers
// found on this machine (a question in a desktop session, a line on stderr
// naming the command without a display).
#include <QString>
#include <QStringList>

namespace app {

// True when folder is missing or no ".url" file lies anywhere below it.
bool favoritesEmpty(const QString& folder);

// The import sources with bookmarks on this machine: "chromium", "firefox".
QStringList browsersWithBookmarks();

// The text that tells a user without a display which command brings the
// bookmarks in.
QString importHintText(const QString& favoritesFolder, const QStringList& browsers);

// Offers the import when the Favorites folder is empty; does nothing
// otherwise. With desktop, asks through the message service and imports
// (then shows the summary) on Yes.
void offerBookmarkImport(bool desktop);

} // namespace app
