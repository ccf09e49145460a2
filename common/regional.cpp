#include "common/regional.h"

#include "common/calendar.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ringolan::regional {

const Settings& settings() {
    static const Settings german;
    return german;
}

namespace {

// A rounded decimal: value = 0.digits x 10^exp; no digits means zero.
struct Decimal {
    bool negative = false;
    std::string digits;
    int exp = 0;
};

// Significant digits of a (> 0) printed with `precision` digits after the first one;
// returns the exponent of the first digit as in 0.d x 10^exp.
int print_digits(double a, int precision, std::string& digits) {
    char stack_buf[64];
    std::string heap_buf;
    char* buf = stack_buf;
    size_t size = sizeof stack_buf;
    if (precision > 40) {
        heap_buf.resize(precision + 32);
        buf = heap_buf.data();
        size = heap_buf.size();
    }
    std::snprintf(buf, size, "%.*e", precision, a);
    digits.clear();
    digits.push_back(buf[0]);
    const char* p = buf + 2;
    while (*p >= '0' && *p <= '9') digits.push_back(*p++);
    // p now at 'e'
    return std::atoi(p + 1) + 1;
}

// Rounds |v| half away from zero (on the exact binary value) to at most `sig` significant
// digits and at most `decimals` digits after the point (single rounding, like a fixed
// format with a precision); sig <= 15.
Decimal round_decimal(double v, int sig, int decimals) {
    Decimal r;
    r.negative = std::signbit(v);
    const double a = std::fabs(v);
    if (a == 0) return r;

    // 18 significant digits, correctly rounded by printf. With half away from zero only the
    // first digit behind the rounding position decides (>= 5 rounds up), and that digit can
    // only differ from the exact one when the 18-digit tail reads 500...0 (the exact value
    // may be ...4999...); then the exact expansion (at most 767 digits) decides.
    std::string d;
    int exp = print_digits(a, 17, d);
    const int n = std::min(sig, exp + decimals);
    if (n < 0) return r;
    bool up = d[n] >= '5';
    if (d[n] == '5' && std::all_of(d.begin() + n + 1, d.end(), [](char c) { return c == '0'; })) {
        std::string exact;
        print_digits(a, 800, exact);
        up = exact[n] >= '5';
    }
    d.resize(n);
    if (up) {
        int i = n - 1;
        while (i >= 0 && d[i] == '9') d[i--] = '0';
        if (i >= 0) {
            ++d[i];
        } else {
            d.insert(d.begin(), '1');
            ++exp;
        }
    }
    while (!d.empty() && d.back() == '0') d.pop_back();
    if (d.empty()) return r;
    r.digits = std::move(d);
    r.exp = exp;
    return r;
}

std::string exponent_form(const Decimal& r, char sep) {
    std::string s = r.negative ? "-" : "";
    s += r.digits[0];
    if (r.digits.size() > 1) {
        s += sep;
        s.append(r.digits, 1);
    }
    s += 'E';
    const int x = r.exp - 1;
    if (x < 0) s += '-';
    s += std::to_string(std::abs(x));
    return s;
}

const char* special(double v) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
    return nullptr;
}

}  // namespace

std::string general_real(double value) {
    if (const char* s = special(value)) return s;
    const char sep = settings().decimal_separator;
    const Decimal r = round_decimal(value, 15, 100000);
    if (r.digits.empty()) return "0";
    if (r.exp > 15 || r.exp < -3) return exponent_form(r, sep);
    std::string s = r.negative ? "-" : "";
    const int n = static_cast<int>(r.digits.size());
    if (r.exp <= 0) {
        s += '0';
        s += sep;
        s.append(-r.exp, '0');
        s += r.digits;
    } else {
        s.append(r.digits, 0, std::min(n, r.exp));
        if (n < r.exp) s.append(r.exp - n, '0');
        if (n > r.exp) {
            s += sep;
            s.append(r.digits, r.exp);
        }
    }
    return s;
}

namespace {

// one_decimal below 10000 (always one decimal there) without printing digits: the tenths
// n = round_half_away(|v| * 10), decided exactly. p = |v|*10 rounded, e = the rounding error
// (exact through fma), so |v|*10 = p + e; with f = floor(p) and d = p - f (exact), round up
// when d + e >= 0.5. For d < 0.25 it cannot be (|e| is below 2^-36); otherwise d - 0.5 is
// exact (Sterbenz) and the test is d - 0.5 >= -e.
std::string small_one_decimal(double value, char sep) {
    const double a = std::fabs(value);
    const double p = a * 10.0;
    const double e = std::fma(a, 10.0, -p);
    const double f = std::floor(p);
    const double d = p - f;
    const bool up = d >= 0.25 && d - 0.5 >= -e;
    const int64_t n = static_cast<int64_t>(f) + (up ? 1 : 0);
    std::string s = (n != 0 && value < 0) ? "-" : "";
    s += std::to_string(n / 10);
    s += sep;
    s += static_cast<char>('0' + n % 10);
    return s;
}

}  // namespace

std::string one_decimal_hundredths(int64_t hundredths) {
    // From 10000 on the form is a whole number, whose only ties (x.5) the quotient holds exactly.
    if (hundredths <= -1000000 || hundredths >= 1000000) return one_decimal(double(hundredths) / 100.0);
    const int64_t magnitude = hundredths < 0 ? -hundredths : hundredths;
    const int64_t tenths = (magnitude + 5) / 10;
    std::string s = (tenths != 0 && hundredths < 0) ? "-" : "";
    s += std::to_string(tenths / 10);
    s += settings().decimal_separator;
    s += static_cast<char>('0' + tenths % 10);
    return s;
}

std::string one_decimal(double value) {
    if (const char* s = special(value)) return s;
    const char sep = settings().decimal_separator;
    if (std::fabs(value) < 1e4) return small_one_decimal(value, sep);
    const Decimal r = round_decimal(value, 5, 1);
    if (r.digits.empty()) return std::string("0") + sep + '0';
    if (r.exp > 5) return exponent_form(r, sep);
    std::string s = r.negative ? "-" : "";
    const int n = static_cast<int>(r.digits.size());
    if (r.exp <= 0) {
        s += '0';
    } else {
        s.append(r.digits, 0, std::min(n, r.exp));
        if (n < r.exp) s.append(r.exp - n, '0');
    }
    s += sep;
    s += (r.exp >= 0 && r.exp < n) ? r.digits[r.exp] : '0';
    return s;
}

namespace {

struct DateTimeParts {
    int64_t year;
    unsigned month, day;
    unsigned hour, minute, second;
};

DateTimeParts split(double days) {
    double whole = std::trunc(days);
    int64_t ms = std::llround(std::fabs(days - whole) * 86400000.0);
    int64_t day = static_cast<int64_t>(whole);
    if (ms >= 86400000) {  // rounds up to midnight: the time always runs forward from the day
        ms -= 86400000;
        ++day;
    }
    const calendar::CivilDate date = calendar::civil_date(day);
    DateTimeParts p{};
    p.day = date.day;
    p.month = date.month;
    p.year = date.year;
    const int64_t secs = ms / 1000;
    p.hour = static_cast<unsigned>(secs / 3600);
    p.minute = static_cast<unsigned>(secs / 60 % 60);
    p.second = static_cast<unsigned>(secs % 60);
    return p;
}

void append_number(std::string& out, int64_t v, size_t width) {
    std::string s = std::to_string(v < 0 ? -v : v);
    if (v < 0) out += '-';
    if (s.size() < width) out.append(width - s.size(), '0');
    out += s;
}

// Writes a format of runs of d, m, y (date) or h, n, m, s (time); other characters literal.
std::string format(const std::string& fmt, const DateTimeParts& p, bool time) {
    std::string out;
    for (size_t i = 0; i < fmt.size();) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(fmt[i])));
        size_t run = 1;
        while (i + run < fmt.size() && std::tolower(static_cast<unsigned char>(fmt[i + run])) == c) ++run;
        const size_t width = run >= 2 ? 2 : 1;
        if (!time && c == 'd') {
            append_number(out, p.day, width);
        } else if (!time && c == 'm') {
            append_number(out, p.month, width);
        } else if (!time && c == 'y') {
            if (run >= 3) append_number(out, p.year, 4);
            else append_number(out, ((p.year % 100) + 100) % 100, 2);
        } else if (time && c == 'h') {
            append_number(out, p.hour, width);
        } else if (time && (c == 'n' || c == 'm')) {
            append_number(out, p.minute, width);
        } else if (time && c == 's') {
            append_number(out, p.second, width);
        } else {
            out.append(fmt, i, run);
        }
        i += run;
    }
    return out;
}

// Beyond any date the file can hold (the year 9999 is day 2958465); keeps the arithmetic in range.
bool out_of_range(double days) { return !std::isfinite(days) || std::fabs(days) > 1e8; }

}  // namespace

std::string datetime_text(double days) {
    if (out_of_range(days)) return "";
    const DateTimeParts p = split(days);
    std::string s = format(settings().short_date, p, false);
    if (p.hour != 0 || p.minute != 0 || p.second != 0) {
        s += ' ';
        s += format(settings().long_time, p, true);
    }
    return s;
}

}  // namespace ringolan::regional
