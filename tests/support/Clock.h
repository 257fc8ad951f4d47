// Points of local time for tests that set a dialog's clock.
#pragma once
#include <ctime>

// The time_t of a local date and time; daylight saving as the time zone has it on that day.
inline std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s = 0) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return std::mktime(&t);
}
