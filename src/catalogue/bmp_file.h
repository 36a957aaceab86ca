#pragma once
// Pictures are stored as Windows BMP files that every viewer opens: 24 bits
// per pixel, uncompressed, rows bottom-up. A 24-bit file carries no alpha
// byte that a reader could take as "fully transparent".
#include <QByteArray>
#include <QImage>
#include <QString>

namespace catalogue {

// The picture as a BMP stores it: 32-bit RGB without alpha, drawn over white
// where the image has transparency.
QImage OpaquePicture(const QImage& image);

// The BMP file bytes of an image (any format; alpha is dropped over white).
// An empty array for a null image (or one that could not be encoded).
QByteArray EncodeBmp(const QImage& image);

// Writes the picture whole, replacing an older file only once the new one is
// complete. False (with the reason in *error) when nothing could be written.
bool SaveBmp(const QImage& image, const QString& path, QString* error = nullptr);

} // namespace catalogue
