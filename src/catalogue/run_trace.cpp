#include "catalogue/run_trace.h"

#include "platform/file_replace.h"

namespace catalogue {

namespace {

QByteArray joined(const QStringList& lines) {
    QByteArray text;
    for (const QString& line : lines)
        text += line.toUtf8() + "\r\n";
    return text;
}

} // namespace

// A trace that cannot be saved must never stop the run, so failures are
// not reported.
void RunTrace::add(const QStringList& lines) {
    QMutexLocker lock(&mutex_);
    lines_ << lines;
    if (filePath_.isEmpty())
        return;
    if (file_.isOpen()) {
        file_.write(joined(lines));
        file_.flush();
        return;
    }
    platform::replaceFileWhole(filePath_, joined(lines_));
    file_.setFileName(filePath_);
    file_.open(QIODevice::WriteOnly | QIODevice::Append);
}

void RunTrace::clear() {
    QMutexLocker lock(&mutex_);
    lines_.clear();
    file_.close();
}

QStringList RunTrace::lines() const {
    QMutexLocker lock(&mutex_);
    return lines_;
}

} // namespace catalogue
