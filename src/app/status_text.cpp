#include "app/status_text.h"

#include "catalogue/date_number.h"

#include <cmath>

namespace app {

namespace {
const QString MenuHint = QStringLiteral("\n\r\n\rRight click on the Pagorama icon for the menu");
}

QString idleStatusText(bool timedRefreshOn, int minutesLeft) {
    if (!timedRefreshOn)
        return QStringLiteral("Timed Auto Refresh is OFF") + MenuHint;
    return QStringLiteral("Auto Refresh will restart in %1 minutes").arg(minutesLeft) + MenuHint;
}

QString busyStatusText(const RunProgress& run, double now) {
    if (run.cancelRequested)
        return QStringLiteral("Pagorama is attempting to stop fetching web sites") + MenuHint;
    // Before the first favourite is taken up there is nothing to estimate
    // from (and the start time may not be set yet).
    if (run.sitesFetched <= 0)
        return QStringLiteral("Pagorama is attempting to fetch %1 web sites.\n\r"
                              "Pagorama will estimate the time to finish once the first web "
                              "site has been fetched.")
                   .arg(run.sitesTotal) +
               MenuHint;
    const double elapsedMinutes = (now - run.runStartTime) * 1440.0;
    const double estimate =
        elapsedMinutes / run.sitesFetched * double(run.sitesTotal - run.sitesFetched);
    return QStringLiteral("Pagorama is attempting to fetch %1 web sites.\n\r"
                          "In the last %2 minutes, %3 web sites have been fetched.\n\r"
                          "Pagorama estimates to finish in %4 minutes.")
               .arg(run.sitesTotal)
               .arg(catalogue::MinutesOf(now - run.runStartTime))
               .arg(run.sitesFetched)
               .arg(qint64(std::trunc(estimate))) +
           MenuHint;
}

QString balloonTitle() {
    return QStringLiteral("Pagorama Status").left(BalloonTitleMax);
}

QString toolTipText(const QString& status) {
    QString tip = status.left(ToolTipMax);
    tip.remove(QLatin1Char('\r'));
    return tip;
}

} // namespace app
