#pragma once
// The timed refresh: a 30-second timer whose ticks are counted towards the
// interval set in minutes. Two ticks make a minute, and the comparison is
// strict, so an interval of N minutes fires at tick 2N + 2.
namespace app {

inline constexpr int TimerIntervalMs = 30000;

class RefreshSchedule {
public:
    // Counts one tick; returns true (and starts counting again from zero)
    // when a timed refresh is due. The counter keeps running while timed
    // refresh is off, so switching it back on after a long pause fires at
    // the next tick.
    bool tick(bool timedRefreshOn, int intervalMinutes);

    // Whole minutes until the next timed refresh, as the idle status shows it.
    int minutesLeft(int intervalMinutes) const { return intervalMinutes - ticks / 2; }

    int ticks = 0; // ticks since the last timed refresh
};

} // namespace app
