#include "platform/own_changes.h"

#include "platform/file_replace.h"

#include <QDir>

namespace platform {

namespace {

// The same path however it was spelt ("a//b", "a/./b").
QString normalised(const QString& path) {
    return QDir::cleanPath(path);
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
    for (const QString& candidate : {clean, fileWrittenThrough(clean)}) {
        const auto found = recorded_.constFind(candidate);
        if (found != recorded_.cend() && !found.value().hasExpired())
            return true;
    }
    return false;
}

} // namespace platform
