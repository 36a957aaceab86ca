#pragma once
// The bookmarks HTML file that browsers export and import: after the line
// "<!DOCTYPE NETSCAPE-Bookmark-file-1>", nested "<DL>" lists whose "<DT>"
// items are either a folder ("<H3>name</H3>" followed by its own "<DL>")
// or a bookmark ("<A HREF="address" ...>name</A>"). Names and addresses
// carry HTML character references.
#include "bookmarks/bookmark_tree.h"

#include <QByteArray>
#include <QString>

namespace bookmarks {

// Adds the bookmarks of the file's text to builder's current folder, the
// outermost list being that folder itself. False with a message in *error
// when the text is no such file or is cut short or broken (an unclosed tag,
// name or list, a list closed that was never opened).
bool ReadHtmlBookmarks(const QByteArray& html, TreeBuilder& builder, QString* error);

} // namespace bookmarks
