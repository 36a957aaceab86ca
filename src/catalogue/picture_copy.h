#pragma once
// Every stored picture has a compressed copy beside it: a PNG of the same
// pixels under the same name with ".png" for its extension. Pages that show
// many pictures at once load the copies; the catalogue keeps naming the BMP.
// A copy is written, carried and removed together with its picture, through
// PictureFiles.
#include <QImage>
#include <QString>

namespace catalogue {

// The copy's path: the picture's path with its ".bmp" extension (any letter
// case) replaced by ".png", or ".png" added when it has none.
QString PngCopyPath(const QString& bmpPath);

// The PNG bytes of the picture's pixels as the BMP stores them (alpha
// dropped over white); empty for a null image.
QByteArray EncodePngCopy(const QImage& image);

// Writes the BMP and then its copies (see PictureFiles::save), each whole
// through a temporary file. The result is the BMP's: a copy that could not be
// written leaves neither a half-written file nor an earlier copy, and pages
// then fall back to the BMP.
bool SavePictureWithCopy(const QImage& image, const QString& bmpPath, QString* error = nullptr);

// Writes the copies a BMP already on disk lacks (a picture kept from a run
// made before copies were written). False when the BMP cannot be read.
bool WritePngCopyOf(const QString& bmpPath);

} // namespace catalogue
