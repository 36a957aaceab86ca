#pragma once
// Names of the per-folder view and edit pages.
//
// A folder's view page is its Location without backslashes plus ".htm", its
// edit page "edit" + the same + ".htm"; the top folder has "view.htm" and
// "edit.htm". Two folders can meet on one name ("News\Tech" and "NewsTech"),
// and a folder can be named like a fixed page ("viewer", or "or" whose edit
// page would be "editor.htm"). So, in catalogue order, a folder whose names
// are a fixed page or already taken (letter case aside) gets "~2", "~3", ...
// after its folder part; the folder part is cut to 200 UTF-8 bytes so the
// file name stays within the file system's limit. The headers' script
// follows the same rule over the folder choice, which lists the folders in
// the same order.
#include <QString>
#include <QStringList>

#include <vector>

namespace pages {

struct FolderPages {
    QString location;
    QString viewPage;
    QString editPage;
};

// One entry per location, in the given order.
std::vector<FolderPages> folderPageNames(const QStringList& locations);

// The page names the program itself writes.
const QStringList& fixedPageNames();

} // namespace pages
