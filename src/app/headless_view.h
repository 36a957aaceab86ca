#pragma once
// The view of a program without a display: the status line goes to stderr,
// one line each; the other indicators only keep their state.
#include "app/program_view.h"

#include <functional>

namespace app {

class HeadlessView : public ProgramView {
public:
    // The size of the configuration window, saved with the settings even
    // when it is never shown.
    static constexpr int FrameWidth = 429, FrameHeight = 353;

    void showStatusLine(const QString& text) override;
    void setProgressRange(int) override {}
    void setProgressPosition(int) override {}
    catalogue::RunLight statusLight() const override { return light_; }
    void setStatusLight(catalogue::RunLight light) override { light_ = light; }
    void setTrayAnimated(bool animated) override { animated_ = animated; }
    TrayIconKind visibleTrayIcon() const override {
        return animated_ ? TrayIconKind::Animated : TrayIconKind::Still;
    }
    void showTrayStatus() override {}
    void statusChanged() override {}
    void setRefreshEnabled(bool) override {}
    void showPicturePreview(const QImage&) override {}
    void showClientCount(int) override {}
    void showServerListening(bool) override {}
    void showSettings() override {}
    void clearServerDisplays() override {}
    QRect windowFrame() const override { return frame_; }
    void placeWindow(int left, int top) override { frame_.moveTo(left, top); }
    void startedUp() override {}
    void closeWindow() override;

    // The close path asks this function whether the program ends.
    std::function<bool()> close;

private:
    catalogue::RunLight light_ = catalogue::RunLight::Idle;
    bool animated_ = false;
    QRect frame_{0, 0, FrameWidth, FrameHeight};
};

// Writes text as one line on stderr: its line breaks become spaces.
void writeLineToStderr(const QString& text);

} // namespace app
