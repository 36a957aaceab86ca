#include "app/window_refresh_host.h"

#include "app/main_window.h"
#include "app/status_light.h"

#include <QGuiApplication>
#include <QProgressBar>

namespace app {

void WindowRefreshHost::setStatusText(const QString& text) {
    window_.ShowStatusLine(text);
}

void WindowRefreshHost::setProgressRange(int maximum) {
    window_.ProgressBar1->setRange(0, maximum);
}

void WindowRefreshHost::setProgressPosition(int position) {
    window_.ProgressBar1->setValue(position);
}

catalogue::RunLight WindowRefreshHost::statusLight() const {
    const QColor colour = window_.Shape1->colour();
    if (colour == RunningColour)
        return catalogue::RunLight::Running;
    if (colour == CancellingColour)
        return catalogue::RunLight::Cancelling;
    return catalogue::RunLight::Idle;
}

void WindowRefreshHost::setStatusLight(catalogue::RunLight light) {
    switch (light) {
    case catalogue::RunLight::Idle:
        window_.Shape1->setColour(IdleColour);
        break;
    case catalogue::RunLight::Running:
        window_.Shape1->setColour(RunningColour);
        break;
    case catalogue::RunLight::Cancelling:
        window_.Shape1->setColour(CancellingColour);
        break;
    }
}

void WindowRefreshHost::setTrayAnimated(bool animated) {
    window_.SetTrayAnimated(animated);
}

void WindowRefreshHost::setRefreshControlsEnabled(bool enabled) {
    window_.SetRefreshControlsEnabled(enabled);
}

void WindowRefreshHost::showStatus() {
    window_.ShowStatus();
}

void WindowRefreshHost::rememberCursor() {
    if (!window_.desktop() || cursorOverridden_)
        return;
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    cursorOverridden_ = true;
}

void WindowRefreshHost::restoreCursor() {
    if (!cursorOverridden_)
        return;
    QGuiApplication::restoreOverrideCursor();
    cursorOverridden_ = false;
}

} // namespace app
