#pragma once
// Watches a folder tree for entries created, deleted or renamed (files and
// folders alike, at any depth) and reports each batch of such changes as one
// change() signal on the thread that owns the monitor. Writes to the content
// of a file are not changes. Folders that appear later are watched as they
// appear; symbolic links to folders are not followed. A folder that does not
// exist yet is watched from the moment it appears (that counts as a change);
// one that cannot be watched at all just reports nothing.
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

namespace platform {

class FolderMonitor : public QObject {
    Q_OBJECT
public:
    explicit FolderMonitor(QObject* parent = nullptr);
    ~FolderMonitor() override;

    // The root of the watched tree; takes effect at once when active.
    void setFolder(const QString& path);
    QString folder() const { return folder_; }
    // Starts or stops watching. A new monitor is inactive.
    void setActive(bool active);
    bool isActive() const { return active_; }
    // True while the kernel watches at least the root folder.
    bool isWatching() const { return !watches_.isEmpty(); }

    // Notices about a path for which this answers true are no change (the
    // program's own writes); folders among them are still watched.
    void setIgnored(std::function<bool(const QString& path)> ignored) {
        ignored_ = std::move(ignored);
    }

    // Handles every notice already queued, without waiting (the event loop
    // does this by itself when notices arrive).
    void processPending();

signals:
    void change();

private:
    void start();
    void stop();
    void watchRoot();
    void watchTree(const QString& path);

    QString folder_;
    bool active_ = false;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    int parentWatch_ = -1;        // on the parent while the folder is missing
    QHash<int, QString> watches_; // watch descriptor -> folder path
    std::function<bool(const QString&)> ignored_;
};

} // namespace platform
