#include "app/shown_update.h"

#include <QEvent>
#include <QWidget>

namespace app {

ShownUpdate::ShownUpdate(QWidget& widget, std::function<void()> update)
    : QObject(&widget), widget_(widget), update_(std::move(update)) {
    widget_.installEventFilter(this);
}

void ShownUpdate::changed() {
    pending_ = !widget_.isVisible();
    if (!pending_)
        update_();
}

bool ShownUpdate::eventFilter(QObject* watched, QEvent* event) {
    if (pending_ && watched == &widget_ && event->type() == QEvent::Show) {
        pending_ = false;
        update_();
    }
    return false;
}

} // namespace app
