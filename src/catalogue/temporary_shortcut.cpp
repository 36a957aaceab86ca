#include "catalogue/temporary_shortcut.h"

#include <QFileInfo>
#include <QSet>

#include <mutex>

namespace catalogue {

namespace {

std::mutex registryLock;
QSet<QString>& reserved() {
    static QSet<QString> paths;
    return paths;
}
QSet<QString>& handedOut() {
    static QSet<QString> paths;
    return paths;
}

} // namespace

QString ReserveTemporaryShortcut(const QString& folder, qint64 firstNumber) {
    const std::lock_guard<std::mutex> lock(registryLock);
    qint64 number = firstNumber;
    QString path;
    do {
        path = folder + QStringLiteral("temp%1.URL").arg(number++);
    } while (reserved().contains(path) || QFileInfo::exists(path));
    reserved().insert(path);
    handedOut().insert(path);
    return path;
}

void ReleaseTemporaryShortcut(const QString& path) {
    const std::lock_guard<std::mutex> lock(registryLock);
    reserved().remove(path);
}

bool IsTemporaryShortcut(const QString& path) {
    const std::lock_guard<std::mutex> lock(registryLock);
    return handedOut().contains(path);
}

} // namespace catalogue
