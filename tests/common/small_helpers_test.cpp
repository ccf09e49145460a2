#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/ascii.h"
#include "common/calendar.h"
#include "common/escape.h"
#include "common/number.h"
#include "platform/posix/unique_fd.h"

using namespace ringolan;
using ringolan::platform::UniqueFd;

namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

}  // namespace

TEST(Trim, BlanksByDefaultOtherSetsAndControlBytes) {
    struct Case {
        std::string_view in, set, out;
    };
    const Case cases[] = {
        {" \ta b\t ", " \t", "a b"}, {"\t\t", " \t", ""},   {"", " \t", ""},
        {"\r\nx\r\n", " \t", "\r\nx\r\n"}, {" \tx\t ", " ", "\tx\t"}, {"x", " \t", "x"},
    };
    for (const Case& c : cases) EXPECT_EQ(text::trim(c.in, c.set), c.out) << '"' << c.in << '"';

    EXPECT_EQ(text::trim_controls(std::string_view("\0\r\n 0 \x1F\x20", 8)), "0");
    // Bytes above 0x7F are text (Windows-1252), never trimmed.
    EXPECT_EQ(text::trim_controls("\xA0x\xFF"), "\xA0x\xFF");
    EXPECT_EQ(text::trim_controls(" \x7F "), "\x7F");
}

TEST(EqualIgnoringCase, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(text::equal_ignoring_case("Startnr", "STARTNR"));
    EXPECT_TRUE(text::equal_ignoring_case(u"Wert_Str", u"wert_str"));
    EXPECT_FALSE(text::equal_ignoring_case("Startnr", "Startnr "));
    EXPECT_FALSE(text::equal_ignoring_case("\xE4", "\xC4"));  // ä and Ä of Windows-1252
    EXPECT_FALSE(text::equal_ignoring_case("@", "`"));         // 0x40 and 0x60 are no letters
    EXPECT_FALSE(text::equal_ignoring_case(u"\u00E4", u"\u00C4"));
}

TEST(HexValue, DigitsAndBothLetterCases) {
    const std::string_view digits = "0123456789abcdefABCDEF";
    const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
    for (size_t i = 0; i < digits.size(); ++i) EXPECT_EQ(text::hex_value(digits[i]), values[i]) << digits[i];
    for (char c : std::string_view("gG/:@`x \xC4")) EXPECT_EQ(text::hex_value(c), -1) << c;
}

TEST(ParseNumber, TheWholeTextInRangeOrNothing) {
    struct Case {
        std::string_view in;
        std::optional<int> as_int;
        std::optional<unsigned> as_unsigned;
    };
    const Case cases[] = {
        {"12", 12, 12u},
        {"-5", -5, std::nullopt},
        {"+5", std::nullopt, std::nullopt},
        {" 5", std::nullopt, std::nullopt},
        {"5 ", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"1x", std::nullopt, std::nullopt},
        {"2147483648", std::nullopt, 2147483648u},
        {"4294967296", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text::parse_number<int>(c.in), c.as_int) << c.in;
        EXPECT_EQ(text::parse_number<unsigned>(c.in), c.as_unsigned) << c.in;
    }
    EXPECT_EQ(text::parse_number<uint64_t>("fF", 16), 255u);
    EXPECT_EQ(text::parse_number<uint64_t>("0x10", 16), std::nullopt);
}

TEST(ParseWholeNumber, OptionalSignAndDigitsWithinInt64) {
    struct Case {
        std::string_view in;
        std::optional<int64_t> out;
    };
    const Case cases[] = {
        {"0", 0},
        {"+12", 12},
        {"-12", -12},
        {"-0", 0},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775807", -INT64_MAX},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775808", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"+-1", std::nullopt},
        {"--1", std::nullopt},
        {"-", std::nullopt},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1.0", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(text::parse_whole_number(c.in), c.out) << c.in;
}

TEST(Calendar, DayNumbersSince18991230) {
    struct Case {
        int64_t year;
        unsigned month, day;
        int64_t number;
    };
    const Case cases[] = {
        {1899, 12, 30, 0},  {1899, 12, 29, -1},    {1900, 3, 1, 61},     {1970, 1, 1, 25569},
        {2000, 2, 29, 36585}, {2000, 3, 1, 36586}, {2024, 3, 1, 45352}, {1600, 3, 1, -109511},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(calendar::day_number(c.year, c.month, c.day), c.number) << c.year << '-' << c.month << '-' << c.day;
        const calendar::CivilDate date = calendar::civil_date(c.number);
        EXPECT_EQ(date.year, c.year) << c.number;
        EXPECT_EQ(date.month, c.month) << c.number;
        EXPECT_EQ(date.day, c.day) << c.number;
    }
    // Every day from 1585 to 2598 follows the one before it and numbers back to itself.
    calendar::CivilDate before = calendar::civil_date(-115000);
    for (int64_t n = -114999; n < 255000; ++n) {
        const calendar::CivilDate d = calendar::civil_date(n);
        const bool next_day = d.year == before.year && d.month == before.month && d.day == before.day + 1;
        const bool next_month = d.year == before.year && d.month == before.month + 1 && d.day == 1;
        const bool next_year = d.year == before.year + 1 && d.month == 1 && d.day == 1 && before.month == 12;
        ASSERT_TRUE(next_day || next_month || next_year) << n;
        ASSERT_EQ(calendar::day_number(d.year, d.month, d.day), n);
        before = d;
    }
}

TEST(EscapeHtml, AmpersandAsAskedTheRestAlways) {
    const std::string_view in = "a&b<c>d\"e'f\xE4";
    EXPECT_EQ(text::escape_html(in, text::Ampersand::Kept), "a&b&lt;c&gt;d&quot;e&#39;f\xE4");
    EXPECT_EQ(text::escape_html(in, text::Ampersand::Escaped), "a&amp;b&lt;c&gt;d&quot;e&#39;f\xE4");
}

TEST(UniqueFd, ClosesOnceWhereverOwnershipEnds) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        UniqueFd a(fds[0]);
        UniqueFd b(std::move(a));
        EXPECT_EQ(a.get(), -1);
        EXPECT_EQ(b.get(), fds[0]);
        UniqueFd c(fds[1]);
        c = std::move(b);  // closes the write end, takes the read end
        EXPECT_FALSE(is_open(fds[1]));
        EXPECT_TRUE(is_open(fds[0]));
        const int kept = c.release();
        EXPECT_EQ(kept, fds[0]);
    }
    EXPECT_TRUE(is_open(fds[0]));  // released: not closed
    {
        UniqueFd d(fds[0]);
        d.reset();
        EXPECT_FALSE(is_open(fds[0]));
        EXPECT_FALSE(d);
    }
}
