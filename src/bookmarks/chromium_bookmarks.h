#pragma once
// The bookmarks of Chromium-family browsers: one JSON file "Bookmarks" per
// profile, whose "roots" object holds the browser's top folders (the
// bookmarks bar, other bookmarks, mobile bookmarks), each a node with a
// "name" and "children"; a child is a "folder" or a "url" node.
#include "bookmarks/bookmark_tree.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace bookmarks {

// Adds the bookmarks of one Bookmarks file's text to builder's current
// folder, each top folder as a folder of its own (an empty one is left
// out). False with a message in *error when the text is no such file.
bool ReadChromiumBookmarks(const QByteArray& json, TreeBuilder& builder, QString* error);

// Every profile's Bookmarks file of the Chromium family (see
// platform/browser_places.h), in a stable order.
QStringList ChromiumBookmarkFiles();

} // namespace bookmarks
