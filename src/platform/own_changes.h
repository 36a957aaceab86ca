#pragma once
// The program's own changes to a watched folder tree: the shortcut files it
// writes (an added favourite, the start page, the temporary shortcut of a
// redirected favourite) and removes again. Folder notices arrive after the
// change, from the main thread's event loop, so a flag cleared when the
// write ends would be too early and one kept set would hide the user's own
// changes. Instead each change is recorded by path, and the folder monitor
// drops exactly the notices about those paths for a short while.
#include <QDeadlineTimer>
#include <QHash>
#include <QString>

#include <functional>
#include <mutex>

namespace platform {

// Called with the path of each file the program is about to write or remove
// in the Favorites tree.
using NoteOwnChange = std::function<void(const QString& path)>;

class OwnChanges {
public:
    // How long after a change its notices are still expected.
    static constexpr int DefaultWindowMs = 15000;

    explicit OwnChanges(int windowMs = DefaultWindowMs) : windowMs_(windowMs) {}

    // Records that the program is about to create, replace or remove the
    // file at path (native, absolute). Safe from any thread.
    void note(const QString& path);

    // True for a notice about a recorded path within its window, or about
    // the temporary file that writing it whole uses beside it.
    // Safe from any thread.
    bool isOwn(const QString& path) const;

private:
    const int windowMs_;
    mutable std::mutex lock_;
    mutable QHash<QString, QDeadlineTimer> recorded_; // path -> end of its window
};

} // namespace platform
