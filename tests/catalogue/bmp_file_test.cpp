// BMP pictures as any viewer reads them.
#include "catalogue/bmp_file.h"

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using catalogue::EncodeBmp;
using catalogue::SaveBmp;

namespace {

quint32 le32(const QByteArray& bytes, int at) {
    return quint32(uchar(bytes[at])) | quint32(uchar(bytes[at + 1])) << 8 |
           quint32(uchar(bytes[at + 2])) << 16 | quint32(uchar(bytes[at + 3])) << 24;
}

// Width 5 makes rows of 15 bytes, padded to 16: padding and row order are
// where a hand-written encoder goes wrong.
QImage patterned() {
    QImage image(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(40 * x + 10, 80 * y + 5, (x * 7 + y * 13) * 5));
    return image;
}

TEST(BmpFile, StandardUncompressed24BitFileThatReadsBackPixelForPixel) {
    const QImage image = patterned();
    const QByteArray bytes = EncodeBmp(image);
    ASSERT_GE(bytes.size(), 54);
    EXPECT_EQ(bytes.left(2), "BM");
    EXPECT_EQ(le32(bytes, 2), quint32(bytes.size()));
    EXPECT_EQ(le32(bytes, 10), 54u);      // pixels right after the two headers
    EXPECT_EQ(le32(bytes, 14), 40u);      // BITMAPINFOHEADER
    EXPECT_EQ(uchar(bytes[28]), 24);      // bits per pixel
    EXPECT_EQ(le32(bytes, 30), 0u);       // BI_RGB
    EXPECT_EQ(bytes.size(), 54 + 3 * 16); // three padded rows
    EXPECT_EQ(le32(bytes, 22), 3u);       // positive height: bottom-up rows

    const QImage back = QImage::fromData(bytes, "BMP").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(back.size(), image.size());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            EXPECT_EQ(back.pixel(x, y), image.pixel(x, y)) << x << "," << y;
}

TEST(BmpFile, TransparentPartsBecomeWhite) {
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0, 0, 0, 0));
    image.setPixel(1, 0, qRgba(0, 0, 255, 255));
    const QImage back = QImage::fromData(EncodeBmp(image), "BMP");
    EXPECT_EQ(back.pixel(0, 0) & 0xffffff, 0xffffffu);
    EXPECT_EQ(back.pixel(1, 0) & 0xffffff, 0x0000ffu);
}

// The bytes of the files written so far stay the same: the digests are
// those of the files the program wrote for these pictures, for the sizes it
// writes (thumbnail, large copy), odd row lengths and a page-sized one.
TEST(BmpFile, FilesKeepTheirBytes) {
    const struct {
        int width, height;
        bool transparent;
        const char* sha256;
    } cases[] = {
        {122, 91, false, "ce0f958d5266adf7da95d32de91c6be478d59cb2b32f72de75f8cb4f710c8139"},
        {5, 3, false, "a96027917784455e36f0d8dc5b140135394f1cfd2637eeacefad8c3c22553d93"},
        {1, 1, false, "c57202cf14ae7ec594f0099a7f54e0443ab271e9d28e129f25918967439074ab"},
        {640, 480, false, "5309e222c92195a26b64c9944664796eb05519b57fd8fb9e685fa71e8a86e671"},
        {366, 273, true, "9a2858b68755296f5ddc5883a29945ab55759a5aed6000b37c823b291e617f3b"}};
    for (const auto& c : cases) {
        QImage image(c.width, c.height,
                     c.transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                image.setPixel(x, y,
                               qRgba((x * 37 + y * 11) & 255, (x * 5 + y * 29) & 255,
                                     (x * y * 3 + 7) & 255, c.transparent ? x & 255 : 255));
        const QByteArray digest =
            QCryptographicHash::hash(EncodeBmp(image), QCryptographicHash::Sha256).toHex();
        EXPECT_EQ(digest.toStdString(), c.sha256) << c.width << " x " << c.height;
    }
}

TEST(BmpFile, SavingReplacesWholeOrReportsFailure) {
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.BMP");
    ASSERT_TRUE(SaveBmp(patterned(), path));
    QImage other(4, 4, QImage::Format_RGB32);
    other.fill(Qt::green);
    ASSERT_TRUE(SaveBmp(other, path));
    EXPECT_EQ(QImage(path).size(), QSize(4, 4));

    // A folder that is a regular file: nothing can be written below it.
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    EXPECT_FALSE(SaveBmp(other, dir.filePath("blocker/picture.BMP"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(SaveBmp(QImage(), dir.filePath("null.BMP")));
    EXPECT_FALSE(QFile::exists(dir.filePath("null.BMP")));
}

} // namespace
