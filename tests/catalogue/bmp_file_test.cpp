// BMP pictures as any viewer reads them.
#include "catalogue/bmp_file.h"

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
