// Day numbers of the competition file: days since 1899-12-30 on the proleptic Gregorian
// calendar (the fraction of a day, where there is one, is the time of day).
#pragma once

#include <cstdint>

namespace ringolan::calendar {

// 1970-01-01 as a day number.
inline constexpr int64_t kUnixEpochDay = 25569;

struct CivilDate {
    int64_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

// The day number of a calendar date (H. Hinnant's days_from_civil, shifted to 1899-12-30).
constexpr int64_t day_number(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + kUnixEpochDay;
}

// The calendar date of a day number (civil_from_days).
constexpr CivilDate civil_date(int64_t day_number) {
    const int64_t z = day_number - kUnixEpochDay + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const auto month = unsigned(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2), month, unsigned(doy - (153 * mp + 2) / 5 + 1)};
}

}  // namespace ringolan::calendar
