#include "catalogue/file_type_icon.h"

#include "catalogue/picture_step.h"
#include "platform/main_thread.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

namespace catalogue {

namespace {

constexpr int LargeIconSize = 32;

QImage iconOnThisThread(const QString& url) {
    const QString pattern = FileTypePattern(url);
    // Only a GUI application has a desktop theme to ask.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        const QMimeType mime = QMimeDatabase().mimeTypeForName(FileTypeMimeName(pattern));
        QIcon icon = QIcon::fromTheme(mime.iconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(mime.genericIconName());
        if (!icon.isNull()) {
            const QImage image = icon.pixmap(LargeIconSize, LargeIconSize).toImage();
            if (!image.isNull())
                return image.convertToFormat(QImage::Format_ARGB32);
        }
    }
    return GenericFileIcon(LargeIconSize);
}

} // namespace

QString FileTypeMimeName(const QString& pattern) {
    // A file name standing for the pattern: "*.zip" is matched as "file.zip".
    const QString name =
        pattern.startsWith('*') ? QStringLiteral("file") + pattern.mid(1) : pattern;
    return QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension).name();
}

QImage GenericFileIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A sheet of paper with a folded corner and a few lines of "text".
    const qreal margin = size * 0.15, fold = size * 0.25;
    const qreal left = margin, right = size - margin, top = size * 0.06, bottom = size * 0.94;
    QPainterPath sheet;
    sheet.moveTo(left, top);
    sheet.lineTo(right - fold, top);
    sheet.lineTo(right, top + fold);
    sheet.lineTo(right, bottom);
    sheet.lineTo(left, bottom);
    sheet.closeSubpath();
    painter.setPen(QPen(QColor(90, 90, 90), qMax(1.0, size / 32.0)));
    painter.setBrush(Qt::white);
    painter.drawPath(sheet);
    painter.setBrush(QColor(210, 210, 210));
    painter.drawPolygon(QPolygonF({QPointF(right - fold, top), QPointF(right - fold, top + fold),
                                   QPointF(right, top + fold)}));
    painter.setPen(QPen(QColor(70, 110, 180), qMax(1.0, size / 16.0)));
    for (int line = 0; line < 4; ++line) {
        const qreal y = top + fold + size * 0.12 * (line + 1);
        painter.drawLine(QPointF(left + size * 0.1, y), QPointF(right - size * 0.1, y));
    }
    return image;
}

QImage FileTypeIcon(const QString& url) {
    QImage result;
    platform::runOnMainThread([&result, &url] { result = iconOnThisThread(url); });
    return result;
}

} // namespace catalogue
