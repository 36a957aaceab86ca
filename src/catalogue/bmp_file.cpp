#include "catalogue/bmp_file.h"

#include "platform/file_replace.h"

#include <QBuffer>
#include <QPainter>

namespace catalogue {

QImage OpaquePicture(const QImage& image) {
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    return flat;
}

QByteArray EncodeBmp(const QImage& image) {
    if (image.isNull())
        return {};
    // Qt writes an image without alpha as 24 bits per pixel, rows bottom-up.
    QImage rgb = OpaquePicture(image);
    rgb.setDotsPerMeterX(2835); // 72 dots per inch
    rgb.setDotsPerMeterY(2835);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !rgb.save(&buffer, "BMP"))
        return {};
    return bytes;
}

bool SaveBmp(const QImage& image, const QString& path, QString* error) {
    if (image.isNull()) {
        if (error)
            *error = QStringLiteral("no picture to save");
        return false;
    }
    const QByteArray bytes = EncodeBmp(image);
    if (bytes.isEmpty()) { // never an empty file in place of a picture
        if (error)
            *error = QStringLiteral("the picture could not be encoded");
        return false;
    }
    return platform::replaceFileWhole(path, bytes, error);
}

} // namespace catalogue
