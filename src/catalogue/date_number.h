#pragma once
// Date-time numbers: local time as days since 30 December 1899, the day's
// fraction after the point. The catalogue's Time stamp, the run's elapsed
// minutes and the file-date sort key are all derived from it.
#include <QDateTime>

namespace catalogue {

// Days since 30 December 1899 00:00 of the local wall-clock time of when.
double DateTimeNumber(const QDateTime& when);

// The catalogue's Time value: the date-time number × 10000, truncated
// (one unit is 8.64 seconds). 1 June 2003 12:00 gives 377735000.
qint64 CatalogueTimeValue(const QDateTime& when);

// The date-time number × 100000, truncated: the file-date sort key before
// formatting. 1 June 2003 12:00 gives 3777350000.
qint64 FileDateValue(const QDateTime& when);

// A span of date-time numbers in whole minutes, truncated toward zero.
qint64 MinutesOf(double days);

} // namespace catalogue
