#pragma once
// The recursive scan of a folder tree that the refresh run and the history
// analyser walk: depth first, a folder's matching files (in one unbroken
// stretch) before any of its subfolders, names in case-blind order.
#include "platform/dir_enum.h"

#include <functional>

namespace catalogue {

// Called for each matching file with its folder (native, ending in "/") and
// its directory entry; returning false stops the whole scan.
using ScanCallback =
    std::function<bool(const QString& folderPath, const platform::DirEntry& entry)>;
// Called once per folder before it is listed, to keep events flowing.
using ScanPump = std::function<void()>;

// Scans root (empty: the current folder) for files matching mask (empty:
// every file), letter case ignored. Hidden folders are descended into;
// symbolic links to folders are neither followed nor handed out as files.
// A folder that is missing or cannot be read contributes nothing. Returns
// false when the callback stopped the scan.
bool ScanDirectoryTree(const QString& root, const QString& mask, const ScanCallback& callback,
                       const ScanPump& pump = {});

} // namespace catalogue
