#include "catalogue/date_number.h"

#include <cmath>

namespace catalogue {

namespace {

constexpr qint64 MillisecondsPerDay = 86400000;

qint64 dayNumber(const QDateTime& when) {
    static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
    return when.toLocalTime().date().toJulianDay() - epoch;
}

qint64 millisecondsIntoDay(const QDateTime& when) {
    return when.toLocalTime().time().msecsSinceStartOfDay();
}

// days × scale + the day's fraction × scale, truncated. Whole numbers are
// used so that a time such as 12:00 never lands one unit low through
// floating-point rounding. Dates before 1899 count back from the epoch like
// the fractional number does (truncation toward zero).
qint64 scaled(const QDateTime& when, qint64 scale) {
    const qint64 days = dayNumber(when);
    const qint64 fraction = millisecondsIntoDay(when) * scale / MillisecondsPerDay;
    if (days >= 0)
        return days * scale + fraction;
    return static_cast<qint64>(std::trunc(DateTimeNumber(when) * double(scale)));
}

} // namespace

double DateTimeNumber(const QDateTime& when) {
    return double(dayNumber(when)) + double(millisecondsIntoDay(when)) / double(MillisecondsPerDay);
}

qint64 CatalogueTimeValue(const QDateTime& when) {
    return scaled(when, 10000);
}

qint64 FileDateValue(const QDateTime& when) {
    return scaled(when, 100000);
}

qint64 MinutesOf(double days) {
    return static_cast<qint64>(std::trunc(days * 1440.0));
}

} // namespace catalogue
