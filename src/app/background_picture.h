#pragma once
// The background picture of the generated pages, "_back.jpg" in the data
// folder. A chosen picture is decoded in full before anything is saved, so
// a file that is not a picture, or is cut short, never replaces a good one.
#include <QByteArray>
#include <QImage>
#include <QString>

namespace app {

inline constexpr const char* BackgroundFileName = "_back.jpg";

// Decodes JPEG data with libjpeg, every scan line. Any error or warning of
// the decoder (a truncated file, corrupt data) gives a null image and the
// decoder's message in *error.
QImage decodeJpeg(const QByteArray& data, QString* error = nullptr);

// Encodes an image as a baseline JPEG with libjpeg.
QByteArray encodeJpeg(const QImage& image, int quality = 88);

// The built-in background: a soft diagonal gradient with a faint pattern.
QImage defaultBackgroundImage();

// Writes the built-in background as "_back.jpg" into dataFolder (ending in
// "/") when the folder has none. Returns false with the reason on failure.
bool ensureDefaultBackground(const QString& dataFolder, QString* error = nullptr);

// Makes the picture file at sourcePath the background, written whole as
// "_back.jpg": a JPEG that decodes in full as it is, any other picture the
// program can read (PNG, BMP, GIF, ...) converted to a JPEG. On failure the
// old "_back.jpg" is left as it was and *error says why.
bool installBackgroundPicture(const QString& sourcePath, const QString& dataFolder,
                              QString* error = nullptr);

} // namespace app
