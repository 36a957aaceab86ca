#include "catalogue/picture_files.h"

#include "catalogue/bmp_file.h"
#include "catalogue/picture_copy.h"
#include "platform/file_replace.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace catalogue {

namespace {

// Qt's PNG quality 80 is zlib level 1: measured on captured pages, the large
// copy then costs a tenth of a capture's time, and its files come out no
// larger than at the default level (see bench/snapshots).
constexpr int kLargeCopyPngQuality = 80;

QByteArray pngBytes(const QImage& image, int quality = -1) {
    if (image.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!OpaquePicture(image).save(&buffer, "PNG", quality))
        return {};
    return bytes;
}

QImage largeFrom(const QImage& picture) {
    return picture.scaled(picture.size() * kLargeCopyScale, Qt::IgnoreAspectRatio,
                          Qt::SmoothTransformation);
}

bool writeWhole(const QString& path, const QByteArray& bytes) {
    return !bytes.isEmpty() && platform::replaceFileWhole(path, bytes);
}

bool copyWhole(const QString& from, const QString& to) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    return platform::replaceFileWhole(to, source.readAll());
}

// Renames over to; across file systems, a whole copy and then the removal.
bool moveOver(const QString& from, const QString& to, QString* error) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    const int reason = errno;
    if (reason == EXDEV && copyWhole(from, to)) {
        QFile::remove(from);
        return true;
    }
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(reason));
    return false;
}

} // namespace

PictureFiles::PictureFiles(QString bmpPath) : bmp_(std::move(bmpPath)) {}

QString PictureFiles::pngCopy() const {
    return PngCopyPath(bmp_);
}

QString PictureFiles::largeCopy() const {
    const QString png = pngCopy();
    return png.chopped(4) + QStringLiteral(".large.png");
}

QStringList PictureFiles::all() const {
    return {bmp_, pngCopy(), largeCopy()};
}

bool PictureFiles::exists() const {
    return QFileInfo(bmp_).isFile();
}

bool PictureFiles::save(const QImage& picture, const QImage& large, QString* error) const {
    // Earlier copies go first: should a new one not fit, pages fall back to
    // the BMP instead of showing a copy's older pixels.
    if (!picture.isNull()) {
        QFile::remove(pngCopy());
        QFile::remove(largeCopy());
    }
    if (!SaveBmp(picture, bmp_, error))
        return false;
    writeWhole(pngCopy(), pngBytes(picture));
    writeWhole(largeCopy(),
               pngBytes(large.isNull() ? largeFrom(picture) : large, kLargeCopyPngQuality));
    return true;
}

bool PictureFiles::carryFrom(const PictureFiles& from) const {
    if (!copyWhole(from.bmp(), bmp_))
        return false;
    bool complete = copyWhole(from.pngCopy(), pngCopy());
    complete = copyWhole(from.largeCopy(), largeCopy()) && complete;
    if (!complete)
        completeCopies();
    return true;
}

bool PictureFiles::completeCopies() const {
    const QImage picture(bmp_, "BMP");
    if (picture.isNull())
        return false;
    if (!QFileInfo::exists(pngCopy()))
        writeWhole(pngCopy(), pngBytes(picture));
    if (!QFileInfo::exists(largeCopy()))
        writeWhole(largeCopy(), pngBytes(largeFrom(picture)));
    return true;
}

bool PictureFiles::moveTo(const PictureFiles& target, QString* error) const {
    QFile::remove(target.largeCopy());
    QFile::remove(target.pngCopy());
    if (!moveOver(bmp_, target.bmp(), error))
        return false;
    if (QFileInfo::exists(pngCopy()))
        moveOver(pngCopy(), target.pngCopy(), nullptr);
    if (QFileInfo::exists(largeCopy()))
        moveOver(largeCopy(), target.largeCopy(), nullptr);
    return true;
}

void PictureFiles::remove() const {
    // The copies first: a set interrupted here still has its BMP, which the
    // next run's clean-up finds by the same masks.
    QFile::remove(largeCopy());
    QFile::remove(pngCopy());
    QFile::remove(bmp_);
}

QStringList PictureFiles::masksFor(const QString& prefix) {
    // The large copy ends in ".png" too.
    return {prefix + QStringLiteral("*.BMP"), prefix + QStringLiteral("*.png")};
}

} // namespace catalogue
