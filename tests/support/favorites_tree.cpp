#include "support/favorites_tree.h"

#include <QDirIterator>
#include <QFile>

namespace testsupport {

QMap<QString, QByteArray> favoritesTree(const QString& folder) {
    QMap<QString, QByteArray> tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(folder.size() + 1);
        if (it.fileInfo().isDir()) {
            tree.insert(relative + '/', {});
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            tree.insert(relative, file.readAll());
        }
    }
    return tree;
}

QByteArray shortcutBytes(const QString& url) {
    return "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n";
}

} // namespace testsupport
