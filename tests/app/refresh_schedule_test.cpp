// The timed refresh rule and the tray's status texts.
#include "app/refresh_schedule.h"
#include "app/status_text.h"

#include <gtest/gtest.h>

namespace {

// The tick (1-based) at which the first timed refresh fires.
int firstFiringTick(app::RefreshSchedule& schedule, int interval) {
    for (int tick = 1; tick < 100000; ++tick)
        if (schedule.tick(true, interval))
            return tick;
    return -1;
}

TEST(RefreshSchedule, FiresAtTick2NPlus2AndStartsAgainFromZero) {
    app::RefreshSchedule schedule;
    EXPECT_EQ(firstFiringTick(schedule, 1), 4); // 2 minutes after the reset
    EXPECT_EQ(schedule.ticks, 0);
    EXPECT_EQ(firstFiringTick(schedule, 1), 4);
    for (int interval : {2, 7, 120, 10000}) {
        app::RefreshSchedule fresh;
        EXPECT_EQ(firstFiringTick(fresh, interval), 2 * interval + 2) << interval;
    }
}

TEST(RefreshSchedule, CountsOnWhileTimedRefreshIsOffAndFiresOnceSwitchedOn) {
    app::RefreshSchedule schedule;
    for (int tick = 0; tick < 50; ++tick)
        EXPECT_FALSE(schedule.tick(false, 5));
    EXPECT_EQ(schedule.ticks, 50);
    EXPECT_TRUE(schedule.tick(true, 5));
    EXPECT_EQ(schedule.ticks, 0);
}

TEST(RefreshSchedule, MinutesLeftRunFromTheIntervalDownToZero) {
    app::RefreshSchedule schedule;
    EXPECT_EQ(schedule.minutesLeft(120), 120); // right after a timed refresh
    schedule.tick(true, 120);
    EXPECT_EQ(schedule.minutesLeft(120), 120); // half a minute is not a minute
    while (schedule.ticks < 241)
        ASSERT_FALSE(schedule.tick(true, 120));
    EXPECT_EQ(schedule.minutesLeft(120), 0); // the tick before the refresh
    EXPECT_TRUE(schedule.tick(true, 120));
    EXPECT_EQ(schedule.minutesLeft(120), 120);
}

const QString Hint = QStringLiteral("\n\r\n\rRight click on the Pagorama icon for the menu");

TEST(StatusText, IdleTexts) {
    EXPECT_EQ(app::idleStatusText(true, 120),
              QStringLiteral("Auto Refresh will restart in 120 minutes") + Hint);
    EXPECT_EQ(app::idleStatusText(true, -3),
              QStringLiteral("Auto Refresh will restart in -3 minutes") + Hint);
    EXPECT_EQ(app::idleStatusText(false, 120), QStringLiteral("Timed Auto Refresh is OFF") + Hint);
}

TEST(StatusText, BusyTextEstimatesInFloatingPointAndTruncatesAtTheEnd) {
    app::RunProgress run;
    run.sitesTotal = 5;
    run.sitesFetched = 2;
    run.runStartTime = 1000.0;
    const double now = 1000.0 + 7.5 / 1440.0; // seven and a half minutes later
    // 7.5 / 2 * 3 = 11.25 -> 11 (whole minutes first would give 7 / 2 * 3 = 9).
    EXPECT_EQ(app::busyStatusText(run, now),
              QStringLiteral("Pagorama is attempting to fetch 5 web sites.\n\r"
                             "In the last 7 minutes, 2 web sites have been fetched.\n\r"
                             "Pagorama estimates to finish in 11 minutes.") +
                  Hint);
}

TEST(StatusText, BusyTextBeforeTheFirstFavouriteAndWhileCancelling) {
    app::RunProgress run;
    run.sitesTotal = 12;
    const QString early = app::busyStatusText(run, 45000.0);
    EXPECT_TRUE(early.startsWith(QStringLiteral("Pagorama is attempting to fetch 12 web sites.")));
    EXPECT_FALSE(early.contains(QStringLiteral("estimates to finish in")));
    EXPECT_TRUE(early.endsWith(Hint));

    run.sitesFetched = 3;
    run.cancelRequested = true;
    EXPECT_EQ(app::busyStatusText(run, 45000.0),
              QStringLiteral("Pagorama is attempting to stop fetching web sites") + Hint);
}

TEST(StatusText, ToolTipIsCutTo127CharactersWithoutCarriageReturns) {
    const QString idle = app::idleStatusText(true, 120);
    EXPECT_EQ(app::toolTipText(idle),
              QStringLiteral("Auto Refresh will restart in 120 minutes\n\nRight click on the "
                             "Pagorama icon for the menu"));
    app::RunProgress run{400, 17, 1000.0, false};
    const QString busy = app::busyStatusText(run, 1000.1);
    ASSERT_GT(busy.size(), 127);
    EXPECT_EQ(app::toolTipText(busy), busy.left(127).remove(QLatin1Char('\r')));
    EXPECT_EQ(app::balloonTitle(), QStringLiteral("Pagorama Status"));
}

} // namespace
