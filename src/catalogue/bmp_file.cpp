#include "catalogue/bmp_file.h"

#include "platform/file_replace.h"

#include <QPainter>

namespace catalogue {

namespace {

void putLe16(char* at, quint16 value) {
    at[0] = char(value & 0xff);
    at[1] = char(value >> 8);
}

void putLe32(char* at, quint32 value) {
    for (int i = 0; i < 4; ++i)
        at[i] = char((value >> (8 * i)) & 0xff);
}

} // namespace

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
    const QImage rgb = OpaquePicture(image);
    const int width = rgb.width();
    const int height = rgb.height();
    const int rowBytes = (width * 3 + 3) & ~3;
    constexpr int fileHeaderSize = 14;
    constexpr int infoHeaderSize = 40;
    const quint32 pixelBytes = quint32(rowBytes) * quint32(height);
    const quint32 fileSize = fileHeaderSize + infoHeaderSize + pixelBytes;

    QByteArray bytes(qsizetype(fileSize), '\0');
    char* out = bytes.data();
    out[0] = 'B';
    out[1] = 'M';
    putLe32(out + 2, fileSize);
    putLe32(out + 10, fileHeaderSize + infoHeaderSize);

    char* info = out + fileHeaderSize;
    putLe32(info + 0, infoHeaderSize);
    putLe32(info + 4, quint32(width));
    putLe32(info + 8, quint32(height)); // positive: rows stored bottom-up
    putLe16(info + 12, 1);              // planes
    putLe16(info + 14, 24);             // bits per pixel
    putLe32(info + 16, 0);              // BI_RGB, no compression
    putLe32(info + 20, pixelBytes);
    putLe32(info + 24, 2835); // 72 dots per inch, in dots per metre
    putLe32(info + 28, 2835);

    char* pixels = out + fileHeaderSize + infoHeaderSize;
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        char* row = pixels + qsizetype(height - 1 - y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            row[3 * x + 0] = char(qBlue(line[x]));
            row[3 * x + 1] = char(qGreen(line[x]));
            row[3 * x + 2] = char(qRed(line[x]));
        }
    }
    return bytes;
}

bool SaveBmp(const QImage& image, const QString& path, QString* error) {
    if (image.isNull()) {
        if (error)
            *error = QStringLiteral("no picture to save");
        return false;
    }
    return platform::replaceFileWhole(path, EncodeBmp(image), error);
}

} // namespace catalogue
