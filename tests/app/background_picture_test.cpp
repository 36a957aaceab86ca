// The background picture: only a picture that decodes in full replaces
// "_back.jpg", and the built-in one is a real JPEG.
#include "app/background_picture.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QImage checkerboard() {
    QImage image(64, 48, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, ((x / 8 + y / 8) % 2) ? QColor(200, 40, 40) : Qt::white);
    return image;
}

TEST(Jpeg, EncodedPictureDecodesToTheSamePicture) {
    const QByteArray bytes = app::encodeJpeg(checkerboard(), 95);
    ASSERT_TRUE(bytes.startsWith("\xFF\xD8"));
    QString error;
    const QImage decoded = app::decodeJpeg(bytes, &error);
    ASSERT_FALSE(decoded.isNull()) << error.toStdString();
    EXPECT_EQ(decoded.size(), QSize(64, 48));
    const QColor red = decoded.pixelColor(12, 3), white = decoded.pixelColor(3, 3);
    EXPECT_GT(red.red(), 150);
    EXPECT_LT(red.green(), 90);
    EXPECT_GT(white.green(), 220);
}

TEST(Jpeg, TruncatedCorruptAndForeignDataAreRefused) {
    const QByteArray good = app::encodeJpeg(checkerboard());
    QString error;
    EXPECT_TRUE(app::decodeJpeg(good.left(good.size() / 2), &error).isNull());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(app::decodeJpeg(QByteArray(), &error).isNull());
    EXPECT_TRUE(app::decodeJpeg("\x89PNG\r\n\x1a\n not a jpeg at all", &error).isNull());
    QByteArray corrupt = good;
    for (qsizetype i = corrupt.size() / 2; i < corrupt.size() - 2; i += 7)
        corrupt[i] = char(0xFF); // markers in the middle of the scan data
    EXPECT_TRUE(app::decodeJpeg(corrupt, &error).isNull());
}

TEST(BackgroundPicture, DefaultIsWrittenOnceAndIsAJpeg) {
    QTemporaryDir folder;
    const QString data = folder.path() + "/";
    ASSERT_TRUE(app::ensureDefaultBackground(data));
    const QByteArray written = readFile(data + "_back.jpg");
    const QImage decoded = app::decodeJpeg(written);
    ASSERT_FALSE(decoded.isNull());
    EXPECT_GE(decoded.width(), 320);
    // Not a flat fill: the corners differ.
    EXPECT_NE(decoded.pixelColor(0, 0),
              decoded.pixelColor(decoded.width() - 1, decoded.height() - 1));
    // A picture of the user's own is never overwritten.
    writeFile(data + "_back.jpg", app::encodeJpeg(checkerboard()));
    const QByteArray own = readFile(data + "_back.jpg");
    ASSERT_TRUE(app::ensureDefaultBackground(data));
    EXPECT_EQ(readFile(data + "_back.jpg"), own);
}

TEST(BackgroundPicture, OnlyAPictureThatDecodesReplacesTheOldOne) {
    QTemporaryDir folder;
    const QString data = folder.path() + "/";
    ASSERT_TRUE(app::ensureDefaultBackground(data));
    const QByteArray before = readFile(data + "_back.jpg");

    const QByteArray picture = app::encodeJpeg(checkerboard());
    writeFile(data + "not-a-picture.jpg", "<html>hello</html>");
    writeFile(data + "cut-short.jpg", picture.left(picture.size() - 200));
    for (const char* bad : {"not-a-picture.jpg", "cut-short.jpg", "missing.jpg"}) {
        QString error;
        EXPECT_FALSE(app::installBackgroundPicture(data + bad, data, &error)) << bad;
        EXPECT_FALSE(error.isEmpty()) << bad;
        EXPECT_EQ(readFile(data + "_back.jpg"), before) << bad;
    }

    writeFile(data + "good.jpeg", picture);
    QString error;
    ASSERT_TRUE(app::installBackgroundPicture(data + "good.jpeg", data, &error))
        << error.toStdString();
    EXPECT_EQ(readFile(data + "_back.jpg"), picture); // the file's own bytes
}

TEST(BackgroundPicture, OtherPictureFormatsAreConvertedAndCutShortOnesRefused) {
    QTemporaryDir folder;
    const QString data = folder.path() + "/";
    // A transparent pixel: the page would show white there.
    QImage faded = checkerboard().convertToFormat(QImage::Format_ARGB32);
    faded.setPixelColor(3, 3, QColor(0, 0, 0, 0));
    for (const char* format : {"PNG", "BMP"}) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && faded.save(&buffer, format));
        writeFile(data + "cut-short", bytes.left(bytes.size() / 2));
        writeFile(data + "whole", bytes);
        QString error;
        EXPECT_FALSE(app::installBackgroundPicture(data + "cut-short", data, &error)) << format;
        EXPECT_FALSE(QFile::exists(data + "_back.jpg")) << format;
        ASSERT_TRUE(app::installBackgroundPicture(data + "whole", data, &error)) << format;
        const QImage stored = app::decodeJpeg(readFile(data + "_back.jpg"));
        ASSERT_EQ(stored.size(), QSize(64, 48)) << format;
        EXPECT_GT(stored.pixelColor(12, 3).red(), 150) << format;
        EXPECT_LT(stored.pixelColor(12, 3).green(), 90) << format;
        // PNG keeps the transparency, which must come out white, not black.
        EXPECT_TRUE(QByteArray(format) != "PNG" || stored.pixelColor(3, 3).green() > 220);
        QFile::remove(data + "_back.jpg");
    }
}

} // namespace
