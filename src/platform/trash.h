#pragma once
// The desktop's Trash in the user's home ($XDG_DATA_HOME/Trash, default
// ~/.local/share/Trash), written the freedesktop way: the file goes to
// Trash/files, a Trash/info/<name>.trashinfo records where it came from, so
// file managers can put it back.
#include <QString>

namespace platform {

QString homeTrashFolder();
// Moves one file (or symbolic link) to the home Trash, creating the Trash
// when missing. A file on another file system is copied there and then
// removed. False when the file is still in place.
bool moveFileToTrash(const QString& path);

} // namespace platform
