#include "catalogue/directory_scan.h"

#include <QDir>
#include <QFileInfo>

namespace catalogue {

namespace {

bool isLinkToFolder(const QString& folderPath, const platform::DirEntry& entry) {
    return entry.isSymLink && QFileInfo(folderPath + entry.name).isDir();
}

bool visit(const QString& folderPath, const QString& mask, const ScanCallback& callback,
           const ScanPump& pump) {
    if (pump)
        pump();
    for (const platform::DirEntry& entry : platform::listDirectory(folderPath, mask)) {
        if (entry.isDirectory || isLinkToFolder(folderPath, entry))
            continue;
        if (!callback(folderPath, entry))
            return false;
    }
    for (const platform::DirEntry& entry : platform::listDirectory(folderPath)) {
        if (!entry.isDirectory)
            continue;
        if (!visit(folderPath + entry.name + '/', mask, callback, pump))
            return false;
    }
    return true;
}

} // namespace

bool ScanDirectoryTree(const QString& root, const QString& mask, const ScanCallback& callback,
                       const ScanPump& pump) {
    QString folder = root.isEmpty() ? QDir::currentPath() : root;
    if (!folder.endsWith('/'))
        folder += '/';
    return visit(folder, mask.isEmpty() ? QStringLiteral("*") : mask, callback, pump);
}

} // namespace catalogue
