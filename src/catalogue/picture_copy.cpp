#include "catalogue/picture_copy.h"

#include "catalogue/bmp_file.h"
#include "catalogue/picture_files.h"

#include <QBuffer>
#include <QFile>

namespace catalogue {

QString PngCopyPath(const QString& bmpPath) {
    if (bmpPath.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive))
        return bmpPath.chopped(4) + QStringLiteral(".png");
    return bmpPath + QStringLiteral(".png");
}

QByteArray EncodePngCopy(const QImage& image) {
    if (image.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!OpaquePicture(image).save(&buffer, "PNG"))
        return {};
    return bytes;
}

bool SavePictureWithCopy(const QImage& image, const QString& bmpPath, QString* error) {
    return PictureFiles(bmpPath).save(image, {}, error);
}

bool WritePngCopyOf(const QString& bmpPath) {
    return PictureFiles(bmpPath).completeCopies();
}

} // namespace catalogue
