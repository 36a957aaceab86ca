#pragma once
// The icon of the type of file an address names: the MIME type of its
// pattern ("*.zip"), that type's icon from the desktop theme, else a plain
// document icon of our own. Icons belong to the main thread, so a call from
// any other thread is carried out there while the caller waits.
#include <QImage>
#include <QString>

namespace catalogue {

// The large (32 x 32) icon for FileTypePattern(url).
QImage FileTypeIcon(const QString& url);

// The MIME type name the pattern stands for ("application/zip").
QString FileTypeMimeName(const QString& pattern);

// The built-in icon used when the theme has none.
QImage GenericFileIcon(int size);

} // namespace catalogue
