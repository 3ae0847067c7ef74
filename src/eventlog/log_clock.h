#pragma once
// Where the event log pass gets its time, and how that time is written: the
// timestamp text of the log lines and the name of the day's file. The clock
// is a plain function so that tests can set the date and time.
#include <QDateTime>
#include <functional>
#include <locale.h>
#include <string>

namespace kestrel {

using LogClock = std::function<QDateTime()>;

// Local time now, to the millisecond.
LogClock SystemLogClock();

// The user's short date format, one blank, the user's long time format
// (the C library's D_FMT and T_FMT of LC_TIME). Without a locale object the
// process's current locale is used.
std::string TimestampText(const QDateTime& time, locale_t locale = nullptr);

// "yymmdd.log" of the time's local date.
std::string LogFileName(const QDateTime& time);

}  // namespace kestrel
