#pragma once
// The refresh run's view of the main window: status line, progress bar,
// status light, tray icons and refresh controls. Page writing and the
// history analysis are left to the subclass that wires those parts in.
#include "catalogue/refresh_host.h"

namespace app {

class TMain;

class WindowRefreshHost : public catalogue::RefreshHost {
public:
    explicit WindowRefreshHost(TMain& window) : window_(window) {}

    void setStatusText(const QString& text) override;
    void setProgressRange(int maximum) override;
    void setProgressPosition(int position) override;
    catalogue::RunLight statusLight() const override;
    void setStatusLight(catalogue::RunLight light) override;
    void setTrayAnimated(bool animated) override;
    void setRefreshControlsEnabled(bool enabled) override;
    void showStatus() override;
    void rememberCursor() override;
    void restoreCursor() override;

protected:
    TMain& window_;

private:
    bool cursorOverridden_ = false;
};

} // namespace app
