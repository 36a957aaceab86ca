#pragma once
// The status texts of the tray icon: what the still icon says about the next
// timed refresh and what the animated icon says about the run in progress.
#include <QString>

namespace app {

// Progress of the refresh run as the status text needs it.
struct RunProgress {
    int sitesTotal = 0;
    int sitesFetched = 0;    // favourites taken up so far
    double runStartTime = 0; // date-time number (days) when counting ended
    bool cancelRequested = false;
};

// The still icon's text: the minutes until the next timed refresh, or that
// timed refresh is off.
QString idleStatusText(bool timedRefreshOn, int minutesLeft);

// The animated icon's text at date-time number now.
QString busyStatusText(const RunProgress& run, double now);

// Title and texts are cut to what the tray accepts.
inline constexpr int BalloonTitleMax = 63;
inline constexpr int BalloonTextMax = 255;
inline constexpr int ToolTipMax = 127;

QString balloonTitle();
// The status as a tooltip: cut to 127 characters; the carriage returns of
// the line breaks are dropped, since tooltips break lines on line feeds.
QString toolTipText(const QString& status);

} // namespace app
