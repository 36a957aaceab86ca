#include "platform/own_changes.h"

#include <QDir>

namespace platform {

namespace {

// The same path however it was spelt ("a//b", "a/./b").
QString normalised(const QString& path) {
    return QDir::cleanPath(path);
}

// The path whose whole-file write uses this temporary name, or an empty
// text when the name is no such temporary file.
QString writtenThrough(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    constexpr qsizetype suffix = 7; // "." and six characters
    if (name.size() < 1 + 1 + suffix || !name.startsWith(QLatin1Char('.')) ||
        name.at(name.size() - suffix) != QLatin1Char('.'))
        return {};
    return path.left(slash + 1) + name.mid(1, name.size() - 1 - suffix);
}

} // namespace

void OwnChanges::note(const QString& path) {
    const std::lock_guard<std::mutex> guard(lock_);
    // Forget what has expired, so the record stays as small as the window.
    for (auto it = recorded_.begin(); it != recorded_.end();)
        it = it.value().hasExpired() ? recorded_.erase(it) : std::next(it);
    recorded_.insert(normalised(path), QDeadlineTimer(windowMs_));
}

bool OwnChanges::isOwn(const QString& path) const {
    const QString clean = normalised(path);
    const std::lock_guard<std::mutex> guard(lock_);
    for (const QString& candidate : {clean, writtenThrough(clean)}) {
        const auto found = recorded_.constFind(candidate);
        if (found != recorded_.cend() && !found.value().hasExpired())
            return true;
    }
    return false;
}

} // namespace platform
