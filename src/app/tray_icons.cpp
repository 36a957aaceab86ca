#include "app/tray_icons.h"

#include "app/status_text.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace app {

namespace {

const QString TrayToolTip = QStringLiteral("Pagorama (Right click for menu)");

} // namespace

TrayIcons::TrayIcons(bool desktop, std::function<QString(TrayIconKind)> statusText,
                     QWidget* menuParent)
    : statusText_(std::move(statusText)) {
    createMenu(menuParent);
    animation_.setInterval(AnimationStepMs);
    connect(&animation_, &QTimer::timeout, this, &TrayIcons::stepAnimation);

    stillIcon_ = QIcon(QStringLiteral(":/app/tray_still.png"));
    for (int frame = 1; frame <= 8; ++frame)
        frames_ << QIcon(QStringLiteral(":/app/tray_frame_%1.png").arg(frame));
    if (!desktop)
        return; // without a display there are no icons
    statictray_ = makeIcon("statictray", stillIcon_);
    animatedtray_ = makeIcon("animatedtray", frames_.first());
    statictray_->show();
}

TrayIcons::~TrayIcons() = default;

void TrayIcons::createMenu(QWidget* menuParent) {
    PopupMenu1 = new QMenu(menuParent);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto add = [this](const QString& caption, const char* name, void (TrayIcons::*chosen)()) {
        QAction* action = PopupMenu1->addAction(caption);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, chosen);
    };
    add(QStringLiteral("Manually &Refresh"), "Refresh1", &TrayIcons::refreshChosen);
    add(QStringLiteral("C&ancel Refresh"), "CancelRefresh1", &TrayIcons::cancelChosen);
    PopupMenu1->addSeparator();
    add(QStringLiteral("&Configure"), "Configure1", &TrayIcons::configureChosen);
    PopupMenu1->addSeparator();
    add(QStringLiteral("Instructions"), "Instructions1", &TrayIcons::instructionsChosen);
    PopupMenu1->addSeparator();
    add(QStringLiteral("C&lose"), "Close1", &TrayIcons::closeChosen);
}

QSystemTrayIcon* TrayIcons::makeIcon(const char* name, const QIcon& icon) {
    auto* tray = new QSystemTrayIcon(icon, this);
    tray->setObjectName(QLatin1String(name));
    tray->setToolTip(TrayToolTip);
    tray->setContextMenu(PopupMenu1);
    // Tray hosts differ: a single click is taken as the double-click.
    connect(tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    emit activated();
            });
    return tray;
}

void TrayIcons::setAnimated(bool animated) {
    animatedShown_ = animated;
    animationFrame_ = 0;
    if (animated)
        animation_.start();
    else
        animation_.stop();
    if (animatedtray_) {
        animatedtray_->setIcon(frames_.first());
        animatedtray_->setVisible(animated);
        statictray_->setVisible(!animated);
    }
    refreshToolTips();
}

void TrayIcons::showStatus() {
    const TrayIconKind kind = visible();
    const QString text = statusText_(kind);
    QSystemTrayIcon* icon = kind == TrayIconKind::Still ? statictray_ : animatedtray_;
    if (!icon)
        return;
    icon->setToolTip(toolTipText(text));
    // The text goes into a balloon only where a tray can show one.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        icon->showMessage(balloonTitle(), text.left(BalloonTextMax), QSystemTrayIcon::Information,
                          10000);
}

void TrayIcons::stepAnimation() {
    animationFrame_ = (animationFrame_ + 1) % int(frames_.size());
    if (animatedtray_)
        animatedtray_->setIcon(frames_[animationFrame_]);
    // The elapsed minutes move on during a run; once per round is plenty.
    if (animationFrame_ == 0)
        refreshToolTips();
}

void TrayIcons::refreshToolTips() {
    if (statictray_)
        statictray_->setToolTip(toolTipText(statusText_(TrayIconKind::Still)));
    if (animatedtray_)
        animatedtray_->setToolTip(toolTipText(statusText_(TrayIconKind::Animated)));
}

void TrayIcons::hide() {
    if (statictray_)
        statictray_->hide();
    if (animatedtray_)
        animatedtray_->hide();
}

} // namespace app
