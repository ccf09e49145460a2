#include "pages/params.h"

#include <gtest/gtest.h>

#include "pages/page_context.h"

namespace ringolan::pages {
namespace {

TEST(PageParams, ValueAfterFirstEquals) {
    EXPECT_EQ(value_after_first_equals("ST=1017"), "1017");
    EXPECT_EQ(value_after_first_equals("ST=1017&x=2"), "1017&x=2");  // no cut at "&"
    EXPECT_EQ(value_after_first_equals("1017"), "1017");             // no "=": the query itself
    EXPECT_EQ(value_after_first_equals("ST="), "");
    EXPECT_EQ(value_after_first_equals("ST=123456789012345678901234"), "12345678901234567890");
    EXPECT_EQ(value_after_first_equals("abcdefghijklmnopqrstuvwxyz"), "abcdefghijklmnopqrst");
}

TEST(PageParams, ValueAfterKeyAndCuts) {
    const std::string_view q = "ST=17&sb=LG1&bz=3&sid=88";
    EXPECT_EQ(cut_before_amp(value_after_key(q, "bz=", 2)), "3");
    EXPECT_EQ(cut_before_amp(value_after_key(q, "ST=", 2)), "17");
    EXPECT_EQ(value_after_key(q, "sid=", 3), "88");
    // The last parameter has no "&" behind it: the cut value is empty.
    EXPECT_EQ(cut_before_amp(value_after_key("sb=LG1&ST=17", "ST=", 2)), "");
    // Keys are case-sensitive; a missing key takes the characters from the fallback start.
    EXPECT_EQ(value_after_key("st=17&x", "ST=", 2), "=17&x");
    EXPECT_EQ(value_after_key("st=17&x", "titel="), "&x");  // 1-based 0 + 6 -> 0-based 5
    EXPECT_EQ(value_after_key("ab", "titel="), "");
    EXPECT_EQ(value_after_key("startnr=0&titel=12&Rang=0", "titel="), "12&Rang=0");
    EXPECT_EQ(value_after_key("titel=123456789012345678901", "titel="), "12345678901234567890");
}

TEST(PageParams, BeforeInnerAmpKeepsALeadingAmpersand) {
    EXPECT_EQ(before_inner_amp("12&wettbid=5"), "12");
    EXPECT_EQ(before_inner_amp("12"), "12");        // no "&": the whole value
    EXPECT_EQ(before_inner_amp("&x"), "&x");        // "&" first: not cut
    EXPECT_EQ(before_inner_amp("&x&y"), "&x&y");
    EXPECT_EQ(before_inner_amp("1&&"), "1");
    EXPECT_EQ(before_inner_amp(""), "");
    EXPECT_EQ(before_inner_amp(value_after_key("wettbid=5&vnr=12&x=1", "vnr=")), "12");
    EXPECT_EQ(before_inner_amp(value_after_key("vnr=&abc", "vnr=")), "&abc");
}

TEST(PageParams, WholeNumberAcceptsWhatJetReadsAsANumber) {
    EXPECT_EQ(whole_number("1017", "Startnummer"), 1017);
    EXPECT_EQ(whole_number(" 12 ", "Startnummer"), 12);
    EXPECT_EQ(whole_number("-5", "Startnummer"), -5);
    EXPECT_EQ(whole_number("+5", "Startnummer"), 5);
    EXPECT_EQ(whole_number("9223372036854775807", "x"), INT64_MAX);
}

TEST(PageParams, WholeNumberRejectsWithPlainGermanAndEscapedEcho) {
    for (std::string_view bad : {"", " ", "-", "12a", "1 or 1=1", "1;DROP", "0x10", "1.5", "99999999999999999999"}) {
        EXPECT_THROW(whole_number(bad, "Startnummer"), InputError) << bad;
    }
    try {
        whole_number("<b>'x\"", "Startnummer");
        FAIL();
    } catch (const InputError& e) {
        const std::string m = e.what();
        EXPECT_EQ(m, "Ung\xFCltige Startnummer: \xBB&lt;b&gt;&#39;x&quot;\xAB");
    }
    try {
        whole_number("", "Listennummer");
        FAIL();
    } catch (const InputError& e) {
        EXPECT_EQ(std::string(e.what()), "Ung\xFCltige Listennummer: kein Wert angegeben");
    }
}

TEST(PageParams, QuotedTextRejectsOnlyADoubleQuoteOrNul) {
    EXPECT_EQ(quoted_text("12", "Vereinsnummer"), "12");
    EXPECT_EQ(quoted_text("", "Vereinsnummer"), "");  // an empty literal is valid
    EXPECT_EQ(quoted_text("A' or '1'='1", "x"), "A' or '1'='1");
    EXPECT_EQ(quoted_text("%_<b>&;\xC4", "x"), "%_<b>&;\xC4");
    for (std::string_view bad : {"\"", "12\"", "\"\"", "A\") or (\"1\"=\"1"}) {
        EXPECT_THROW(quoted_text(bad, "Vereinsnummer"), InputError) << bad;
    }
    EXPECT_THROW(quoted_text(std::string_view("12\0", 3), "Vereinsnummer"), InputError);
    try {
        quoted_text(std::string_view("1\0" "2", 3), "Vereinsnummer");
        FAIL();
    } catch (const InputError& e) {
        EXPECT_EQ(std::string(e.what()), "Ung\xFCltige Vereinsnummer: \xBB" "1\\0" "2\xAB");
    }
    EXPECT_EQ(quoted_text("\x01\t\r\n", "x"), "\x01\t\r\n");
    try {
        quoted_text("<b>\"", "Anfangsbuchstaben");
        FAIL();
    } catch (const InputError& e) {
        EXPECT_EQ(std::string(e.what()), "Ung\xFCltige Anfangsbuchstaben: \xBB&lt;b&gt;&quot;\xAB");
    }
}

}  // namespace
}  // namespace ringolan::pages
