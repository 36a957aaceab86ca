#pragma once
// The view and edit start pages when "New Page per Folder" is ticked and no
// favourite lies directly in the Favorites folder: no page of the top folder
// exists then, so "view.htm" and "edit.htm" (which the viewer and editor show
// first) link to the pages of the highest folders instead. Without any
// folder they say that no favourite was found and how to bring some in.
#include "pages/folder_page_names.h"

#include <QByteArray>

#include <vector>

namespace pages {

// True when the folder list has no entry for the top folder.
bool needsStartPage(const std::vector<FolderPages>& folders);

// The folders not inside another listed folder, in the given order.
std::vector<FolderPages> highestFolders(const std::vector<FolderPages>& folders);

// The start page linking each of the highest folders' view pages (or edit
// pages). Names are written as text; each link is a page name relative to
// this page, percent-encoded, so no folder name can become another address.
QByteArray startPageText(const std::vector<FolderPages>& folders, bool editPages);

} // namespace pages
