#include "app/background_picture.h"

#include "platform/file_replace.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QtEndian>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace app {

namespace {

// libjpeg reports errors through a callback that must not return; we jump
// back to the caller. Warnings (premature end of data, corrupt markers) are
// turned into errors too, since the decoder would otherwise fill the missing
// part with grey and call it a picture.
struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onJpegError(j_common_ptr info) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

void onJpegMessage(j_common_ptr info, int level) {
    if (level < 0) // a warning: treat as fatal
        onJpegError(info);
}

// Decodes into pixels (RGB rows); returns false with the message set. Kept
// free of objects with destructors between setjmp and the jumps.
bool decodeInto(const QByteArray& data, std::vector<unsigned char>& pixels, int& width, int& height,
                char* message) {
    jpeg_decompress_struct info;
    JpegErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onJpegError;
    errors.base.emit_message = onJpegMessage;
    errors.message[0] = '\0';
    jpeg_create_decompress(&info);
    if (setjmp(errors.jump)) {
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    width = int(info.output_width);
    height = int(info.output_height);
    const std::size_t stride = std::size_t(info.output_width) * 3;
    pixels.resize(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        unsigned char* row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// A picture in any format Qt reads, decoded in full (a file cut short
// gives a null image), with transparent parts laid over white as a page
// shows them.
QImage decodeOtherPicture(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    QImageReader reader(&buffer);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return {};
    // The BMP reader takes a file cut short without complaint; its header
    // says how long the file should be.
    if (data.startsWith("BM") && data.size() >= 6 &&
        qFromLittleEndian<quint32>(data.constData() + 2) > quint32(data.size()))
        return {};
    QImage flat(image.size(), QImage::Format_RGB888);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    return flat;
}

} // namespace

QImage decodeJpeg(const QByteArray& data, QString* error) {
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("Empty input file");
        return {};
    }
    std::vector<unsigned char> pixels;
    int width = 0, height = 0;
    char message[JMSG_LENGTH_MAX] = {};
    if (!decodeInto(data, pixels, width, height, message)) {
        if (error)
            *error = QString::fromLocal8Bit(message);
        return {};
    }
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        std::copy_n(pixels.data() + std::size_t(y) * width * 3, std::size_t(width) * 3,
                    image.scanLine(y));
    return image;
}

QByteArray encodeJpeg(const QImage& source, int quality) {
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<unsigned char*>(image.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return bytes;
}

QImage defaultBackgroundImage() {
    constexpr int Width = 640, Height = 480;
    QImage image(Width, Height, QImage::Format_RGB888);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A pale sky-to-sand diagonal, light enough for dark text on top.
    QLinearGradient wash(0, 0, Width, Height);
    wash.setColorAt(0.0, QColor(226, 238, 250));
    wash.setColorAt(0.55, QColor(240, 244, 246));
    wash.setColorAt(1.0, QColor(250, 242, 226));
    painter.fillRect(image.rect(), wash);
    // A few very faint circles give the surface some depth.
    painter.setPen(Qt::NoPen);
    const struct {
        int x, y, r;
        QColor colour;
    } rings[] = {{120, 90, 170, QColor(255, 255, 255, 70)},
                 {520, 140, 120, QColor(200, 220, 245, 60)},
                 {420, 400, 200, QColor(255, 250, 235, 70)},
                 {60, 420, 110, QColor(215, 232, 250, 50)}};
    for (const auto& ring : rings) {
        QRadialGradient glow(ring.x, ring.y, ring.r);
        glow.setColorAt(0.0, ring.colour);
        glow.setColorAt(1.0, QColor(ring.colour.red(), ring.colour.green(), ring.colour.blue(), 0));
        painter.setBrush(glow);
        painter.drawEllipse(QPoint(ring.x, ring.y), ring.r, ring.r);
    }
    painter.end();
    // A little fixed noise hides the banding that smooth gradients get from
    // 8-bit colour and JPEG compression.
    quint32 seed = 0x9E3779B9u;
    for (int y = 0; y < Height; ++y) {
        uchar* pixel = image.scanLine(y);
        for (int x = 0; x < Width * 3; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int value = pixel[x] + int(seed >> 30) - 1; // -1, 0, 1 or 2
            pixel[x] = uchar(qBound(0, value, 255));
        }
    }
    return image;
}

bool ensureDefaultBackground(const QString& dataFolder, QString* error) {
    const QString path = dataFolder + QLatin1String(BackgroundFileName);
    if (QFileInfo::exists(path))
        return true;
    return platform::replaceFileWhole(path, encodeJpeg(defaultBackgroundImage()), error);
}

bool installBackgroundPicture(const QString& sourcePath, const QString& dataFolder,
                              QString* error) {
    QFile file(sourcePath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error =
                QStringLiteral("Cannot open file \"%1\". %2").arg(sourcePath, file.errorString());
        return false;
    }
    const QByteArray data = file.readAll();
    const QString target = dataFolder + QLatin1String(BackgroundFileName);
    // A JPEG is kept byte for byte once it decodes in full.
    if (data.startsWith("\xFF\xD8")) {
        QString reason;
        if (decodeJpeg(data, &reason).isNull()) {
            if (error)
                *error =
                    QStringLiteral("%1 is not a usable JPEG picture: %2").arg(sourcePath, reason);
            return false;
        }
        return platform::replaceFileWhole(target, data, error);
    }
    // Any other picture the program can read is stored as a JPEG, since the
    // pages and the server name the background "_back.jpg".
    const QImage picture = decodeOtherPicture(data);
    if (picture.isNull()) {
        if (error)
            *error = QStringLiteral("%1 is not a picture Pagorama can read").arg(sourcePath);
        return false;
    }
    return platform::replaceFileWhole(target, encodeJpeg(picture), error);
}

} // namespace app
