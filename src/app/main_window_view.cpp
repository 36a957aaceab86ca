// The window as the core's view: what the program's steps show in its
// controls and in the tray.
#include "app/main_window.h"
#include "app/program_core.h"
#include "app/shown_update.h"
#include "app/status_light.h"
#include "app/tray_icons.h"

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>

namespace app {

void TMain::showStatusLine(const QString& text) {
    Label1->setText(text);
}

void TMain::setProgressRange(int maximum) {
    ProgressBar1->setRange(0, maximum);
}

void TMain::setProgressPosition(int position) {
    ProgressBar1->setValue(position);
}

catalogue::RunLight TMain::statusLight() const {
    const QColor colour = Shape1->colour();
    if (colour == RunningColour)
        return catalogue::RunLight::Running;
    if (colour == CancellingColour)
        return catalogue::RunLight::Cancelling;
    return catalogue::RunLight::Idle;
}

void TMain::setStatusLight(catalogue::RunLight light) {
    switch (light) {
    case catalogue::RunLight::Idle:
        Shape1->setColour(IdleColour);
        break;
    case catalogue::RunLight::Running:
        Shape1->setColour(RunningColour);
        break;
    case catalogue::RunLight::Cancelling:
        Shape1->setColour(CancellingColour);
        break;
    }
}

void TMain::setTrayAnimated(bool animated) {
    tray_->setAnimated(animated);
}

TrayIconKind TMain::visibleTrayIcon() const {
    return tray_->visible();
}

void TMain::showTrayStatus() {
    tray_->showStatus();
}

void TMain::statusChanged() {
    if (tray_) // none yet while the controls are first filled
        tray_->refreshToolTips();
}

void TMain::setRefreshEnabled(bool enabled) {
    Button2->setEnabled(enabled);
}

void TMain::showPicturePreview(const QImage& picture) {
    Image1->setPixmap(QPixmap::fromImage(picture));
}

void TMain::showClientCount(int count) {
    shownClientCount_ = count;
    clientCount_->changed();
}

void TMain::showServerListening(bool listening) {
    PortEdit->setEnabled(!listening);
    StartButton->setEnabled(!listening);
    StopButton->setEnabled(listening);
}

void TMain::clearServerDisplays() {
    ClientCountLabel->setText(QStringLiteral("0"));
    DisplayMemo->clear();
}

QRect TMain::windowFrame() const {
    return frameGeometry();
}

void TMain::placeWindow(int left, int top) {
    move(left, top);
}

void TMain::startedUp() {
    // With a display but no tray the window is the only way in.
    if (core_.desktop() && !QSystemTrayIcon::isSystemTrayAvailable())
        Configure1Click();
}

} // namespace app
