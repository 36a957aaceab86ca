#pragma once
// The colour that most pixels of a picture have: enough to tell which page
// a thumbnail shows when each test page has a strong colour of its own.
#include <QColor>
#include <QImage>

namespace e2e {

QColor mainColour(const QImage& image);

} // namespace e2e
