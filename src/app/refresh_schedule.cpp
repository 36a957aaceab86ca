#include "app/refresh_schedule.h"

namespace app {

bool RefreshSchedule::tick(bool timedRefreshOn, int intervalMinutes) {
    ++ticks;
    if (timedRefreshOn && intervalMinutes < ticks / 2) {
        ticks = 0;
        return true;
    }
    return false;
}

} // namespace app
