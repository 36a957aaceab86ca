#pragma once
// The size a page is loaded at, and the card its picture is scaled into.
#include <QSize>

namespace catalogue {

constexpr int kPageWidth = 1024;
constexpr int kPageHeight = 768;
constexpr int kThumbnailSide = 122;

// The page scaled into the card, proportions kept: 122 x 91.
inline QSize pageThumbnailSize() {
    return QSize(kPageWidth, kPageHeight)
        .scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio);
}

// The large copy kept beside each picture: the same view at three times
// the size, 366 x 273, for dense screens and larger cards.
constexpr int kLargeCopyScale = 3;

inline QSize largeCopySize() {
    return pageThumbnailSize() * kLargeCopyScale;
}

} // namespace catalogue
