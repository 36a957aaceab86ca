#include "catalogue/picture_copy.h"

#include "catalogue/bmp_file.h"
#include "platform/file_replace.h"

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

namespace {

bool writeCopy(const QImage& image, const QString& bmpPath) {
    const QByteArray png = EncodePngCopy(image);
    return !png.isEmpty() && platform::replaceFileWhole(PngCopyPath(bmpPath), png);
}

} // namespace

bool SavePictureWithCopy(const QImage& image, const QString& bmpPath, QString* error) {
    // An earlier copy goes first: should the new one not fit, pages fall
    // back to the BMP instead of showing the copy's older pixels.
    if (!image.isNull())
        QFile::remove(PngCopyPath(bmpPath));
    if (!SaveBmp(image, bmpPath, error))
        return false;
    writeCopy(image, bmpPath);
    return true;
}

bool WritePngCopyOf(const QString& bmpPath) {
    const QImage picture(bmpPath, "BMP");
    return !picture.isNull() && writeCopy(picture, bmpPath);
}

} // namespace catalogue
