#pragma once
// The two tray icons (still while idle, animated during a run, never both
// shown), their right-click menu and the eight-frame animation. Tray hosts
// report no mouse-over, so each icon's tooltip always carries its status text.
#include "app/program_view.h"

#include <QIcon>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <functional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace app {

class TrayIcons : public QObject {
    Q_OBJECT
public:
    static constexpr int AnimationStepMs = 180;

    // desktop: a display is present; without one there are no icons, only
    // the menu. statusText gives each icon's status text.
    TrayIcons(bool desktop, std::function<QString(TrayIconKind)> statusText, QWidget* menuParent);
    ~TrayIcons() override;

    QMenu* PopupMenu1 = nullptr;

    void setAnimated(bool animated);
    TrayIconKind visible() const {
        return animatedShown_ ? TrayIconKind::Animated : TrayIconKind::Still;
    }
    // The status text of the visible icon in a balloon, where a tray shows one.
    void showStatus();
    void refreshToolTips();
    void hide();

signals:
    // Menu entries and the icon's click.
    void refreshChosen();
    void cancelChosen();
    void configureChosen();
    void instructionsChosen();
    void closeChosen();
    void activated();

private:
    void createMenu(QWidget* menuParent);
    QSystemTrayIcon* makeIcon(const char* name, const QIcon& icon);
    void stepAnimation();

    std::function<QString(TrayIconKind)> statusText_;
    QSystemTrayIcon* statictray_ = nullptr;   // none without a display
    QSystemTrayIcon* animatedtray_ = nullptr; // none without a display
    QTimer animation_;
    bool animatedShown_ = false;
    int animationFrame_ = 0;
    QIcon stillIcon_;
    QVector<QIcon> frames_;
};

} // namespace app
