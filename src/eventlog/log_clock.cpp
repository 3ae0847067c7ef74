#include "eventlog/log_clock.h"

#include <langinfo.h>

#include <cstdio>
#include <ctime>

namespace kestrel {
namespace {

std::tm BrokenDown(const QDateTime& time) {
    const QDate d = time.date();
    const QTime t = time.time();
    std::tm tm{};
    tm.tm_year = d.year() - 1900;
    tm.tm_mon = d.month() - 1;
    tm.tm_mday = d.day();
    tm.tm_hour = t.hour();
    tm.tm_min = t.minute();
    tm.tm_sec = t.second();
    tm.tm_wday = d.dayOfWeek() % 7;  // Qt counts Monday as 1 and Sunday as 7
    tm.tm_yday = d.dayOfYear() - 1;
    tm.tm_isdst = -1;
    return tm;
}

std::string Format(const std::tm& tm, const char* format, locale_t locale) {
    if (format == nullptr || *format == '\0') return {};
    char buffer[256];
    const size_t n = locale ? strftime_l(buffer, sizeof buffer, format, &tm, locale)
                            : std::strftime(buffer, sizeof buffer, format, &tm);
    return std::string(buffer, n);
}

}  // namespace

LogClock SystemLogClock() {
    return [] { return QDateTime::currentDateTime(); };
}

std::string TimestampText(const QDateTime& time, locale_t locale) {
    const std::tm tm = BrokenDown(time);
    const char* dateFormat = locale ? nl_langinfo_l(D_FMT, locale) : nl_langinfo(D_FMT);
    const std::string date = Format(tm, dateFormat, locale);
    const char* timeFormat = locale ? nl_langinfo_l(T_FMT, locale) : nl_langinfo(T_FMT);
    return date + " " + Format(tm, timeFormat, locale);
}

std::string LogFileName(const QDateTime& time) {
    const QDate d = time.date();
    char name[32];
    std::snprintf(name, sizeof name, "%02d%02d%02d.log", ((d.year() % 100) + 100) % 100, d.month(), d.day());
    return name;
}

}  // namespace kestrel
