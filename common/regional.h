// Regional settings (German is the one built-in default) and the number and date texts
// written with them.
#pragma once

#include <cstdint>
#include <string>

namespace ringolan::regional {

struct Settings {
    char decimal_separator = ',';
    std::string short_date = "dd.mm.yyyy";   // d, dd, m, mm, yy, yyyy; other characters literal
    std::string long_time = "hh:mm:ss";      // h, hh, n, nn, s, ss; m/mm after h are minutes
};

// The settings in force: German.
const Settings& settings();

// Fixed point with exactly one digit after the decimal separator, rounded half away from zero
// on the exact decimal expansion of the double, at most five significant digits (from 10000
// on the value is rounded to a whole number: 12345.67 -> "12346,0"). No thousands separator;
// a result that rounds to zero has no sign. A value that needs more than five digits before
// the separator is written in the exponent form of general_real with five significant
// digits: 123456.7 -> "1,2346E5".
std::string one_decimal(double value);

// A whole count of hundredths (a Teiler: 1235 is 12.35) in the same form, rounded on its exact
// decimal value, not on a binary quotient: 1235 -> "12,4", 5055 -> "50,6", 895 -> "9,0".
std::string one_decimal_hundredths(int64_t hundredths);

// General form with up to 15 significant digits (rounded half away from zero, trailing zeros
// dropped): plain notation when the decimal exponent allows it (0,0001 ... 999999999999999),
// otherwise mantissa, "E", "-" for a negative exponent and its digits: 1E20, 1E-5, 1,5E-7.
// NaN and infinities as "NAN", "INF", "-INF".
std::string general_real(double value);

// Days since 1899-12-30 (the fraction is the time of day, also for negative values) as short
// date, a blank and long time. The time is rounded to whole milliseconds, which are not
// shown; blank and time are left out when hours, minutes and seconds are all zero.
std::string datetime_text(double days);

}  // namespace ringolan::regional
