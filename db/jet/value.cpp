#include "db/jet/value.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "common/calendar.h"
#include "common/number.h"

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

// Digits only (no sign); the fields read are at most four digits long.
bool parse_int(std::string_view s, int& out) {
    const std::optional<unsigned> value = text::parse_number<unsigned>(s);
    if (value) out = int(*value);
    return value.has_value();
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
    const int64_t days = calendar::day_number(year, unsigned(month), unsigned(day));
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
    const calendar::CivilDate date = calendar::civil_date(day);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", int(date.year), int(date.month), int(date.day),
                  int(rem / 3600), int(rem / 60 % 60), int(rem % 60));
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
