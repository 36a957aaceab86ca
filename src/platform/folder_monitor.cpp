#include "platform/folder_monitor.h"

#include "platform/dir_enum.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

namespace {

// Names coming and going; content writes (IN_MODIFY, IN_CLOSE_WRITE) are not
// asked for.
constexpr uint32_t watchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

} // namespace

FolderMonitor::FolderMonitor(QObject* parent) : QObject(parent) {}

FolderMonitor::~FolderMonitor() {
    stop();
}

void FolderMonitor::setFolder(const QString& path) {
    folder_ = path;
    if (active_) {
        stop();
        start();
    }
}

void FolderMonitor::setActive(bool active) {
    if (active == active_)
        return;
    active_ = active;
    if (active)
        start();
    else
        stop();
}

void FolderMonitor::start() {
    if (folder_.isEmpty())
        return;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0)
        return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &FolderMonitor::processPending);
    watchRoot();
}

void FolderMonitor::watchRoot() {
    watchTree(folder_);
    if (!watches_.isEmpty() || parentWatch_ >= 0)
        return;
    // The folder is missing: wait in its parent for it to appear.
    const QFileInfo root(folder_);
    parentWatch_ = ::inotify_add_watch(fd_, QFile::encodeName(root.absolutePath()).constData(),
                                       IN_CREATE | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW);
}

void FolderMonitor::stop() {
    delete notifier_;
    notifier_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    parentWatch_ = -1;
    watches_.clear();
}

void FolderMonitor::watchTree(const QString& path) {
    const int wd = ::inotify_add_watch(fd_, QFile::encodeName(path).constData(), watchMask);
    if (wd < 0)
        return;
    watches_.insert(wd, path);
    for (const DirEntry& entry : listDirectory(path, QStringLiteral("*")))
        if (entry.isDirectory)
            watchTree(path + QLatin1Char('/') + entry.name);
}

void FolderMonitor::processPending() {
    if (fd_ < 0)
        return;
    bool changed = false;
    bool rewalk = false;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                changed = rewalk = true;
                continue;
            }
            if (event->mask & IN_IGNORED) {
                watches_.remove(event->wd);
                if (event->wd == parentWatch_)
                    parentWatch_ = -1;
                continue;
            }
            if (event->wd == parentWatch_) {
                if (event->len && QFile::decodeName(event->name) == QFileInfo(folder_).fileName())
                    rewalk = true; // the folder has appeared
                continue;
            }
            if (event->mask & IN_MOVE_SELF)
                rewalk = true; // a watched folder has gone somewhere else
            if (!watches_.contains(event->wd))
                continue; // a folder that has left the tree
            const QString parent = watches_.value(event->wd);
            const bool own = ignored_ && event->len &&
                             ignored_(parent + QLatin1Char('/') + QFile::decodeName(event->name));
            if (!own)
                changed = true;
            if (!(event->mask & IN_ISDIR))
                continue;
            if (event->mask & IN_CREATE && !parent.isEmpty())
                watchTree(parent + QLatin1Char('/') + QFile::decodeName(event->name));
            else if (event->mask & (IN_MOVED_TO | IN_MOVED_FROM))
                rewalk = true; // folder paths below may have changed
        }
    }
    if (rewalk) {
        // Watching a folder again returns its existing descriptor, so this
        // only refreshes the paths and adds folders moved in from outside.
        const QList<int> before = watches_.keys();
        watches_.clear();
        watchTree(folder_);
        for (const int wd : before)
            if (!watches_.contains(wd))
                ::inotify_rm_watch(fd_, wd);
        if (!watches_.isEmpty() && parentWatch_ >= 0) {
            ::inotify_rm_watch(fd_, parentWatch_);
            parentWatch_ = -1;
            changed = true;
        }
    }
    if (watches_.isEmpty())
        watchRoot(); // the folder itself went: watch for its return
    if (changed)
        emit change();
}

} // namespace platform
