#pragma once
// The run trace: lines describing the run in progress, saved whole as
// "files.log" in the program folder each time a group of lines is added, so
// the file always shows the run in progress or the last run.
#include <QMutex>
#include <QString>
#include <QStringList>

namespace catalogue {

class RunTrace {
public:
    // An empty path keeps the lines in memory only (tests).
    explicit RunTrace(QString filePath = {}) : filePath_(std::move(filePath)) {}

    // Adds a group of lines and saves the whole trace. Safe from the worker thread.
    void add(const QStringList& lines);
    void clear();
    QStringList lines() const;

private:
    QString filePath_;
    mutable QMutex mutex_;
    QStringList lines_;
};

} // namespace catalogue
