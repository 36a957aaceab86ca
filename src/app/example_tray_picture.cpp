#include "app/example_tray_picture.h"

#include <QPainter>
#include <QPixmap>

namespace app {

ExampleTrayPicture::ExampleTrayPicture(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ExampleTrayPicture"));
    setMinimumSize(sizeHint());
}

void ExampleTrayPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The panel: a strip along the bottom with a clock at its right end and
    // a few neighbouring icons, ours among them.
    const QRect panel(0, height() - 30, width(), 30);
    painter.fillRect(panel, QColor(58, 62, 72));
    painter.setPen(QColor(230, 232, 236));
    painter.drawText(panel.adjusted(0, 0, -10, 0), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("12:00"));
    const int iconTop = panel.top() + 7;
    const int firstIcon = width() - 130;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(120, 126, 138));
    painter.drawEllipse(QRect(firstIcon, iconTop, 16, 16));
    painter.drawRoundedRect(QRect(firstIcon + 48, iconTop, 16, 16), 3, 3);
    const QPixmap ours(QStringLiteral(":/app/tray_still.png"));
    const QRect ourIcon(firstIcon + 24, iconTop, 16, 16);
    painter.drawPixmap(ourIcon, ours);
    // The label and an arrow pointing at our icon.
    painter.setPen(QColor(220, 0, 0));
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    const QRect label(0, 0, firstIcon + 20, panel.top() - 6);
    painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Example system tray"));
    painter.setPen(QPen(QColor(220, 0, 0), 2));
    const QPoint tip(ourIcon.center().x(), panel.top() + 4);
    painter.drawLine(QPoint(ourIcon.center().x(), label.center().y() + 8), tip);
    painter.drawLine(tip, tip + QPoint(-4, -5));
    painter.drawLine(tip, tip + QPoint(4, -5));
}

} // namespace app
