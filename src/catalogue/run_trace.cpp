#include "catalogue/run_trace.h"

#include "platform/file_replace.h"

namespace catalogue {

void RunTrace::add(const QStringList& lines) {
    QMutexLocker lock(&mutex_);
    lines_ << lines;
    if (filePath_.isEmpty())
        return;
    QByteArray text;
    for (const QString& line : std::as_const(lines_))
        text += line.toUtf8() + "\r\n";
    // A trace that cannot be saved must never stop the run.
    platform::replaceFileWhole(filePath_, text);
}

void RunTrace::clear() {
    QMutexLocker lock(&mutex_);
    lines_.clear();
}

QStringList RunTrace::lines() const {
    QMutexLocker lock(&mutex_);
    return lines_;
}

} // namespace catalogue
