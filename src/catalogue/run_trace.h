#pragma once
// The run trace: lines describing the run in progress, kept in "files.log"
// in the program folder, which always shows the run in progress or the last
// run. The first group after clear() replaces the file whole; later groups
// are appended, so a long run does not rewrite the whole trace per favourite.
#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace catalogue {

class RunTrace {
public:
    // An empty path keeps the lines in memory only (tests).
    explicit RunTrace(QString filePath = {}) : filePath_(std::move(filePath)) {}

    // Adds a group of lines and saves them. Safe from the worker thread.
    void add(const QStringList& lines);
    void clear();
    QStringList lines() const;

private:
    QString filePath_;
    mutable QMutex mutex_;
    QStringList lines_;
    QFile file_; // open for appending from the second group of a run on
};

} // namespace catalogue
