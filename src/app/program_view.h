#pragma once
// What the program core shows to the user: the status line, the run's
// progress and light, the tray, the picture just made, the server's state
// and the settings controls. The configuration window implements it; without
// a display a stderr-writing view stands in.
#include "catalogue/refresh_host.h"

#include <QImage>
#include <QRect>
#include <QString>

namespace app {

enum class TrayIconKind { Still, Animated };

class ProgramView {
public:
    virtual ~ProgramView() = default;

    virtual void showStatusLine(const QString& text) = 0;
    virtual void setProgressRange(int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual catalogue::RunLight statusLight() const = 0;
    virtual void setStatusLight(catalogue::RunLight light) = 0;
    // The animated tray icon in place of the still one, or back.
    virtual void setTrayAnimated(bool animated) = 0;
    virtual TrayIconKind visibleTrayIcon() const = 0;
    // The status text of the visible icon in a balloon (where there is a tray).
    virtual void showTrayStatus() = 0;
    // The status texts changed (timer, settings, cancel): tooltips follow.
    virtual void statusChanged() = 0;
    // "Manually Refresh" on or off for the run's duration.
    virtual void setRefreshEnabled(bool enabled) = 0;
    virtual void showPicturePreview(const QImage& picture) = 0;
    virtual void showClientCount(int count) = 0;
    virtual void showServerListening(bool listening) = 0;
    // The settings model's values into the controls.
    virtual void showSettings() = 0;
    // The start-up empties the client count and the log display.
    virtual void clearServerDisplays() = 0;
    // The window's outer frame, saved with the settings, and its placing.
    virtual QRect windowFrame() const = 0;
    virtual void placeWindow(int left, int top) = 0;
    // The first showing's work is done.
    virtual void startedUp() = 0;
    // The close path: the window's close, which asks the core whether the
    // program ends (ProgramCore::closeProgram).
    virtual void closeWindow() = 0;
};

} // namespace app
