#include "common/regional.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

using namespace ringolan::regional;

namespace {

// "123,4" -> 1234 (tenths); the text must have exactly one digit after the comma.
int64_t tenths(const std::string& s) {
    const auto comma = s.find(',');
    EXPECT_NE(comma, std::string::npos) << s;
    EXPECT_EQ(comma + 2, s.size()) << s;
    std::string digits = s.substr(0, comma) + s.substr(comma + 1);
    return std::stoll(digits);
}

}  // namespace

TEST(Regional, GermanDefaults) {
    EXPECT_EQ(settings().decimal_separator, ',');
    EXPECT_EQ(settings().short_date, "dd.mm.yyyy");
    EXPECT_EQ(settings().long_time, "hh:mm:ss");
}

// Expected values from the exact binary values (Python's Decimal(float) expansion):
// 0.05 = 0.05000000000000000277..., 0.35 = 0.34999999999999997779..., 0.15 = 0.14999999999999999444...,
// 100.04 = 100.04000000000000625..., 9999.95 = 9999.95000000000072759..., 10.05 = 10.0500000000000007105...
TEST(OneDecimal, RoundsHalfAwayFromZeroOnTheExactValue) {
    EXPECT_EQ(one_decimal(95.25), "95,3");     // exact tie, away from zero
    EXPECT_EQ(one_decimal(-2.25), "-2,3");
    EXPECT_EQ(one_decimal(0.25), "0,3");
    EXPECT_EQ(one_decimal(-0.25), "-0,3");
    EXPECT_EQ(one_decimal(9.75), "9,8");
    EXPECT_EQ(one_decimal(0.05), "0,1");       // slightly above the tie
    EXPECT_EQ(one_decimal(0.35), "0,3");       // slightly below the tie
    EXPECT_EQ(one_decimal(0.15), "0,1");
    EXPECT_EQ(one_decimal(10.05), "10,1");
    EXPECT_EQ(one_decimal(100.04), "100,0");
    EXPECT_EQ(one_decimal(123.45678), "123,5");
    EXPECT_EQ(one_decimal(10.5), "10,5");
    EXPECT_EQ(one_decimal(7), "7,0");
    EXPECT_EQ(one_decimal(9999.95), "10000,0");  // carries into a fifth digit
    EXPECT_EQ(one_decimal(0.96), "1,0");
}

TEST(OneDecimal, ZeroAndSmallValues) {
    EXPECT_EQ(one_decimal(0.0), "0,0");
    EXPECT_EQ(one_decimal(-0.0), "0,0");
    EXPECT_EQ(one_decimal(0.04), "0,0");
    EXPECT_EQ(one_decimal(-0.04), "0,0");       // rounds to zero: no sign
    EXPECT_EQ(one_decimal(0.0499999), "0,0");
    EXPECT_EQ(one_decimal(1e-300), "0,0");
    EXPECT_EQ(one_decimal(0.06), "0,1");
    EXPECT_EQ(one_decimal(-0.06), "-0,1");
}

TEST(OneDecimal, AtMostFiveSignificantDigits) {
    EXPECT_EQ(one_decimal(1234.56), "1234,6");
    EXPECT_EQ(one_decimal(12345.67), "12346,0");
    EXPECT_EQ(one_decimal(12345.4), "12345,0");
    EXPECT_EQ(one_decimal(12344.5), "12345,0");  // tie at the unit: away from zero, not to even
    EXPECT_EQ(one_decimal(-12345.5), "-12346,0");
    EXPECT_EQ(one_decimal(99999.4), "99999,0");
    // more than five digits before the separator: exponent form with five significant digits
    EXPECT_EQ(one_decimal(99999.5), "1E5");
    EXPECT_EQ(one_decimal(123456.7), "1,2346E5");
    EXPECT_EQ(one_decimal(-2500000), "-2,5E6");
}

// Oracle from the exact decimal expansion printed by printf (a double has at most 1074
// fractional digits): the tenths rounded up when the hundredths digit is 5 or more.
std::string exact_one_decimal(double v) {
    char buf[1200];
    std::snprintf(buf, sizeof buf, "%.1100f", std::fabs(v));
    std::string s(buf);
    const size_t point = s.find('.');
    std::string digits = s.substr(0, point) + s[point + 1];  // integer part and tenths
    if (s[point + 2] >= '5') {
        int i = static_cast<int>(digits.size()) - 1;
        while (i >= 0 && digits[i] == '9') digits[i--] = '0';
        if (i < 0) digits.insert(digits.begin(), '1');
        else ++digits[i];
    }
    while (digits.size() > 2 && digits[0] == '0') digits.erase(0, 1);
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    return (v < 0 && !zero ? "-" : "") + digits.substr(0, digits.size() - 1) + "," + digits.back();
}

// Random values below 10000, half of them the doubles nearest to the ties x.x5, against the
// printf oracle and against the exact residual: |v|*10 = |n| + d with d in [-0.5, 0.5),
// computed by fma without rounding error in this range.
TEST(OneDecimal, RandomValuesAgreeWithExactExpansion) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> any(-9999.0, 9999.0);
    std::uniform_int_distribution<int> k(-99999, 99998);
    std::uniform_int_distribution<int> scale(0, 8);
    for (int i = 0; i < 100000; ++i) {
        double v = i % 2 ? any(rng) : (2.0 * k(rng) + 1) / 20.0;
        if (i % 5 == 0) v /= std::pow(10.0, scale(rng));  // small values too
        const std::string s = one_decimal(v);
        ASSERT_EQ(s, exact_one_decimal(v)) << v;
        const int64_t n = tenths(s);
        const double d = std::fma(std::fabs(v), 10.0, -static_cast<double>(std::llabs(n)));
        ASSERT_TRUE(d >= -0.5 && d < 0.5) << v << " -> " << s;
    }
}

// Around 10000, where the fifth digit moves before the separator.
TEST(OneDecimal, AroundTenThousand) {
    EXPECT_EQ(one_decimal(9999.94), "9999,9");
    EXPECT_EQ(one_decimal(std::nextafter(1e4, 0.0)), "10000,0");
    EXPECT_EQ(one_decimal(1e4), "10000,0");
    EXPECT_EQ(one_decimal(10000.4), "10000,0");
    EXPECT_EQ(one_decimal(10000.5), "10001,0");
    EXPECT_EQ(one_decimal(-10000.5), "-10001,0");
}

TEST(GeneralReal, PlainAndExponentForms) {
    EXPECT_EQ(general_real(95.25), "95,25");
    EXPECT_EQ(general_real(-1.5), "-1,5");
    EXPECT_EQ(general_real(0), "0");
    EXPECT_EQ(general_real(100), "100");
    EXPECT_EQ(general_real(0.1), "0,1");
    EXPECT_EQ(general_real(0.1 + 0.2), "0,3");  // 0.30000000000000004 at 15 digits
    EXPECT_EQ(general_real(1.0 / 3), "0,333333333333333");
    EXPECT_EQ(general_real(2.0 / 3), "0,666666666666667");
    EXPECT_EQ(general_real(0.0001), "0,0001");
    EXPECT_EQ(general_real(0.000123), "0,000123");
    EXPECT_EQ(general_real(1e-5), "1E-5");
    EXPECT_EQ(general_real(0.0000123), "1,23E-5");
    EXPECT_EQ(general_real(-1.5e-7), "-1,5E-7");
    EXPECT_EQ(general_real(1e20), "1E20");
    EXPECT_EQ(general_real(1e14), "100000000000000");
    EXPECT_EQ(general_real(999999999999999.0), "999999999999999");
    EXPECT_EQ(general_real(1e15), "1E15");
    EXPECT_EQ(general_real(1234567890123456.0), "1,23456789012346E15");
    EXPECT_EQ(general_real(1.7976931348623157e308), "1,79769313486232E308");
    EXPECT_EQ(general_real(5e-324), "4,94065645841247E-324");
    EXPECT_EQ(general_real(NAN), "NAN");
    EXPECT_EQ(general_real(INFINITY), "INF");
    EXPECT_EQ(general_real(-INFINITY), "-INF");
}

TEST(GeneralReal, FifteenDigitTiesOnTheExactValue) {
    // integers below 2^53 are exact: a true tie at the 16th digit rounds away from zero
    EXPECT_EQ(general_real(1000000000000005.0), "1,00000000000001E15");
    EXPECT_EQ(general_real(1000000000000025.0), "1,00000000000003E15");  // half-even would give ...02
    EXPECT_EQ(general_real(-1000000000000025.0), "-1,00000000000003E15");
    // 13.45643871447915 is 13.4564387144791499650864...: 18 digits read ...91500 but the exact
    // value is below the tie; likewise 514.5659577716375 = 514.56595777163749971...
    EXPECT_EQ(general_real(13.45643871447915), "13,4564387144791");
    EXPECT_EQ(general_real(514.5659577716375), "514,565957771637");
    // 25569.50558641315 = 25569.505586413150012958...: just above the tie
    EXPECT_EQ(general_real(25569.50558641315), "25569,5055864132");
    // 2.000000000000005 = 2.00000000000000488...: below
    EXPECT_EQ(general_real(2.000000000000005), "2");
    // 5.000000000000005 = 5.00000000000000532...: above
    EXPECT_EQ(general_real(5.000000000000005), "5,00000000000001");
}

TEST(DateTime, DaysSince18991230) {
    EXPECT_EQ(datetime_text(0), "30.12.1899");
    EXPECT_EQ(datetime_text(2), "01.01.1900");
    EXPECT_EQ(datetime_text(36526), "01.01.2000");
    EXPECT_EQ(datetime_text(45000), "15.03.2023");
    EXPECT_EQ(datetime_text(45351), "29.02.2024");
    EXPECT_EQ(datetime_text(2958465), "31.12.9999");
    EXPECT_EQ(datetime_text(60), "28.02.1900");  // no 29 February 1900
    EXPECT_EQ(datetime_text(61), "01.03.1900");
}

TEST(DateTime, TimeOfDay) {
    EXPECT_EQ(datetime_text(36526.5), "01.01.2000 12:00:00");
    EXPECT_EQ(datetime_text(36526.25 + 1.0 / 86400), "01.01.2000 06:00:01");
    EXPECT_EQ(datetime_text(45000 + (13 * 3600 + 7 * 60 + 9) / 86400.0), "15.03.2023 13:07:09");
    // milliseconds are not shown and do not make the time appear
    EXPECT_EQ(datetime_text(36526 + 1.999 / 86400), "01.01.2000 00:00:01");
    EXPECT_EQ(datetime_text(36526 + 0.4 / 86400), "01.01.2000");
    // a time that rounds to midnight belongs to the next day
    EXPECT_EQ(datetime_text(36526.9999999999), "02.01.2000");
    // negative values: the day counts back, the fraction is the time of that day
    EXPECT_EQ(datetime_text(-1.25), "29.12.1899 06:00:00");
    EXPECT_EQ(datetime_text(-0.5), "30.12.1899 12:00:00");
    EXPECT_EQ(datetime_text(NAN), "");
    EXPECT_EQ(datetime_text(1e300), "");
}

// Teiler counts hundredths: the tie is decided on the whole number, not on a binary quotient
// (1235 / 100.0 is 12.3499999..., which one_decimal would write 12,3).
TEST(OneDecimal, HundredthsRoundOnTheExactDecimalValue) {
    const struct {
        int64_t hundredths;
        const char* text;
    } cases[] = {
        {1235, "12,4"},      {1245, "12,5"},     {5055, "50,6"},          {2995, "30,0"},
        {895, "9,0"},        {1234, "12,3"},     {1000000, "10000,0"},    {0, "0,0"},
        {4, "0,0"},          {5, "0,1"},         {-1235, "-12,4"},        {-4, "0,0"},
        {999949, "9999,5"},  {999995, "10000,0"}, {1234550, "12346,0"},    {1234549, "12345,0"},
        {12345678, "1,2346E5"},
    };
    for (const auto& c : cases) EXPECT_EQ(one_decimal_hundredths(c.hundredths), c.text) << c.hundredths;
    EXPECT_EQ(one_decimal_hundredths(INT64_MIN), one_decimal(double(INT64_MIN) / 100.0));  // no overflow
}
