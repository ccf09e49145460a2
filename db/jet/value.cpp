#include "db/jet/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace ringolan::jet {
namespace {

struct TypeName {
    ColumnType type;
    std::string_view name;
};
constexpr TypeName kTypeNames[] = {
    {ColumnType::Byte, "byte"},         {ColumnType::Integer, "integer"}, {ColumnType::Long, "long"},
    {ColumnType::Single, "single"},     {ColumnType::Double, "double"},   {ColumnType::Currency, "currency"},
    {ColumnType::Boolean, "boolean"},   {ColumnType::DateTime, "datetime"}, {ColumnType::Text, "text"},
    {ColumnType::Memo, "memo"},
};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
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

constexpr int64_t kEpoch1899 = -25569;  // 1899-12-30 in days since 1970-01-01

bool parse_int(std::string_view s, int& out) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

int days_in_month(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

std::string_view type_name(ColumnType t) {
    for (const auto& e : kTypeNames)
        if (e.type == t) return e.name;
    return "unknown";
}

bool parse_type_name(std::string_view name, ColumnType& out) {
    for (const auto& e : kTypeNames)
        if (e.name == name) {
            out = e.type;
            return true;
        }
    return false;
}

DateTime make_datetime(int year, int month, int day, int hour, int minute, int second) {
    const int64_t days = days_from_civil(year, unsigned(month), unsigned(day)) - kEpoch1899;
    return DateTime{double(days) + (hour * 3600 + minute * 60 + second) / 86400.0};
}

bool parse_datetime(std::string_view text, DateTime& out) {
    int y, mo, d, h = 0, mi = 0, s = 0;
    if (text.size() != 10 && text.size() != 19) return false;
    if (text[4] != '-' || text[7] != '-') return false;
    if (!parse_int(text.substr(0, 4), y) || !parse_int(text.substr(5, 2), mo) || !parse_int(text.substr(8, 2), d))
        return false;
    if (text.size() == 19) {
        if (text[10] != ' ' || text[13] != ':' || text[16] != ':') return false;
        if (!parse_int(text.substr(11, 2), h) || !parse_int(text.substr(14, 2), mi) ||
            !parse_int(text.substr(17, 2), s))
            return false;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > days_in_month(y, mo) || h > 23 || mi > 59 || s > 59) return false;
    out = make_datetime(y, mo, d, h, mi, s);
    return true;
}

std::string format_datetime(DateTime dt) {
    // Whole seconds since 1899-12-30; the fraction of a negative day counts forward from midnight.
    const double total = std::round(dt.days * 86400.0);
    const int64_t secs = int64_t(total);
    int64_t day = secs / 86400;
    int64_t rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        day -= 1;
    }
    int y, m, d;
    civil_from_days(day + kEpoch1899, y, m, d);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, int(rem / 3600), int(rem / 60 % 60),
                  int(rem % 60));
    return buf;
}

bool parse_currency(std::string_view text, Currency& out) {
    bool neg = false;
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
    __int128 v = 0;
    int digits = 0, decimals = -1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            if (decimals >= 0) return false;
            decimals = 0;
            continue;
        }
        if (c < '0' || c > '9') return false;
        if (decimals >= 0 && ++decimals > 4) {
            if (c != '0') return false;  // more than four significant decimals
            continue;
        }
        v = v * 10 + (c - '0');
        ++digits;
        if (v > (__int128(1) << 64)) return false;
    }
    if (digits == 0) return false;
    for (int k = decimals < 0 ? 0 : std::min(decimals, 4); k < 4; ++k) v *= 10;
    if (neg) v = -v;
    if (v > std::numeric_limits<int64_t>::max() || v < std::numeric_limits<int64_t>::min()) return false;
    out = Currency{int64_t(v)};
    return true;
}

std::string format_currency(Currency c) {
    const bool neg = c.scaled < 0;
    const unsigned __int128 mag = neg ? -(__int128)c.scaled : (__int128)c.scaled;
    const uint64_t whole = uint64_t(mag / 10000), frac = uint64_t(mag % 10000);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", neg ? "-" : "", (unsigned long long)whole,
                  (unsigned long long)frac);
    return buf;
}

}  // namespace ringolan::jet
