#pragma once
// Listing one folder the way the directory scan expects it: names matched
// against a wildcard mask without regard to letter case, entries handed out
// sorted by name without regard to case, hidden entries included, "." and
// ".." left out. Symbolic links to folders are never reported as folders, so
// a scan never descends through them.
#include <QDateTime>
#include <QList>
#include <QString>

namespace platform {

struct DirEntry {
    QString name;             // file name only, decoded from the file system's bytes
    bool isDirectory = false; // a real folder (never a link to one)
    bool isSymLink = false;
    qint64 size = 0;         // bytes; 0 for folders
    QDateTime lastWriteTime; // local time
    QDateTime creationTime;  // birth time when the file system has it, else change time
};

// True when name matches mask: '*' any run of characters, '?' exactly one,
// letter case ignored. A mask ending in ".*" also matches names without any
// dot, so "*.*" matches every name.
bool matchesMask(const QString& name, const QString& mask);

// The entries of folder whose names match mask, sorted by name without regard
// to case (ties broken by exact name so the order is stable). A folder that is
// missing or cannot be read gives an empty list.
QList<DirEntry> listDirectory(const QString& folder, const QString& mask = QStringLiteral("*"));

} // namespace platform
