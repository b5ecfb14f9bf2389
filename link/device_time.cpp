#include "link/device_time.h"

#include <cstdio>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back (Howard Hinnant's algorithms).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void civil_from_days(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(int64_t(yoe) + era * 400 + (m <= 2));
}

constexpr int32_t EARLIEST = -43200;  // twelve hours before 1970: the oldest count accepted

}  // namespace

bool device_time_to_fields(uint32_t t, calendar_fields& out) {
    const int64_t s = int32_t(t);
    if (s < EARLIEST) return false;
    int64_t days = s / 86400;
    int64_t rem = s % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    civil_from_days(days, out.year, out.month, out.day);
    out.hour = int(rem / 3600);
    out.minute = int(rem / 60 % 60);
    out.second = int(rem % 60);
    return true;
}

uint32_t device_time_from_fields(const calendar_fields& f) {
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 || f.hour < 0 || f.hour > 23 || f.minute < 0 ||
        f.minute > 59 || f.second < 0 || f.second > 60)
        return 0xFFFFFFFFu;
    const int64_t s = days_from_civil(f.year, unsigned(f.month), unsigned(f.day)) * 86400 + f.hour * 3600 +
                      f.minute * 60 + f.second;
    if (s < 0 || s > INT32_MAX) return 0xFFFFFFFFu;
    return uint32_t(s);
}

char* time_text(uint32_t t, char buf[21]) {
    calendar_fields f;
    if (device_time_to_fields(t, f))
        std::snprintf(buf, 21, "%02d/%02d/%04d %02d:%02d:%02d", f.day, f.month, f.year, f.hour, f.minute, f.second);
    else
        std::snprintf(buf, 21, "invalid (%u)", t);
    return buf;
}
