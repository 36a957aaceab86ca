#include "app/status_light.h"

#include <QPainter>

namespace app {

StatusLight::StatusLight(QWidget* parent) : QWidget(parent) {}

void StatusLight::setColour(const QColor& colour) {
    if (colour_ == colour)
        return;
    colour_ = colour;
    update();
}

void StatusLight::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(colour_);
    const int side = qMin(width(), height()) - 2;
    painter.drawEllipse(QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side));
}

} // namespace app
