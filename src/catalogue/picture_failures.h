#pragma once
// The first picture of a run that could not be stored (a full disk, an
// unwritable folder). A run that has one fails instead of saving a
// catalogue without it, so the pages on disk keep showing the pictures of
// the previous run. Noted from the worker threads, read by the run.
#include <QMutex>
#include <QString>

namespace catalogue {

class PictureFailures {
public:
    // Keeps the first failure of the run only.
    void note(const QString& path, const QString& error);
    QString first() const;
    void clear();

private:
    mutable QMutex mutex_;
    QString first_;
};

} // namespace catalogue
