#include "catalogue/picture_failures.h"

#include <QDir>

namespace catalogue {

void PictureFailures::note(const QString& path, const QString& error) {
    QMutexLocker lock(&mutex_);
    if (first_.isEmpty())
        first_ = QStringLiteral("cannot store the picture %1 (%2)")
                     .arg(QDir::toNativeSeparators(path),
                          error.isEmpty() ? QStringLiteral("write failed") : error);
}

QString PictureFailures::first() const {
    QMutexLocker lock(&mutex_);
    return first_;
}

void PictureFailures::clear() {
    QMutexLocker lock(&mutex_);
    first_.clear();
}

} // namespace catalogue
