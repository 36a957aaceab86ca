#pragma once
// What a Favorites folder holds, for comparing trees in tests: every file
// and folder by its path below the folder ("Bar/Name.URL", folders ending
// in "/"), with each file's bytes.
#include <QByteArray>
#include <QMap>
#include <QString>

namespace testsupport {

QMap<QString, QByteArray> favoritesTree(const QString& folder);

// The Internet shortcut text the program writes for url.
QByteArray shortcutBytes(const QString& url);

} // namespace testsupport
