#pragma once
// File operations of the edit actions and the picture clean-up.
#include <QString>

namespace platform {

// Deletes the files (not folders) of folder whose names match mask (letter
// case ignored, see matchesMask). With allowUndo they go to the user's
// Trash instead (see trash.h). True when every matching file is gone, also when none
// matched; false when any could not be removed.
bool deleteMatchingFiles(const QString& folder, const QString& mask, bool allowUndo);

// Renames or moves from to to, never replacing an existing entry at to. On
// failure returns false with the system's error number in *errorCode
// (EEXIST when to already exists).
bool renameNoReplace(const QString& from, const QString& to, int* errorCode = nullptr);

} // namespace platform
