#include "common/cp1252.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace ringolan::text;

namespace {

std::string all_bytes() {
    std::string s;
    for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
    return s;
}

// The printable characters of 0x80..0x9F as published for Windows-1252 (0 = undefined byte).
constexpr char32_t kPublished[32] = {
    U'€', 0,     U'‚', U'ƒ', U'„', U'…', U'†', U'‡', U'ˆ', U'‰', U'Š', U'‹', U'Œ', 0,     U'Ž', 0,
    0,     U'‘', U'’', U'“', U'”', U'•', U'–', U'—', U'˜', U'™', U'š', U'›', U'œ', 0,     U'ž', U'Ÿ',
};

}  // namespace

TEST(Cp1252, EveryByteRoundTripsThroughUtf8AndUtf16) {
    const std::string bytes = all_bytes();
    const std::string utf8 = cp1252_to_utf8(bytes);
    const std::u16string utf16 = cp1252_to_utf16(bytes);
    ASSERT_EQ(utf16.size(), 256u);
    EXPECT_EQ(utf8_to_cp1252(utf8), bytes);
    EXPECT_EQ(utf16_to_cp1252(utf16), bytes);
    EXPECT_EQ(utf8_to_utf16(utf8), utf16);
    EXPECT_EQ(utf16_to_utf8(utf16), utf8);
    // ASCII and Latin-1 halves are the identity on code points.
    for (int b = 0; b < 256; ++b) {
        if (b >= 0x80 && b <= 0x9F) continue;
        EXPECT_EQ(static_cast<int>(utf16[b]), b) << "byte " << b;
    }
    // Each byte alone as well, so one bad entry cannot hide behind its neighbours.
    for (int b = 0; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        EXPECT_EQ(utf8_to_cp1252(cp1252_to_utf8(one)), one) << "byte " << b;
        EXPECT_EQ(utf16_to_cp1252(cp1252_to_utf16(one)), one) << "byte " << b;
    }
}

TEST(Cp1252, TheTwentySevenCharactersOf80To9F) {
    int printable = 0;
    for (int i = 0; i < 32; ++i) {
        const char byte = static_cast<char>(0x80 + i);
        const std::u16string u = cp1252_to_utf16(std::string(1, byte));
        ASSERT_EQ(u.size(), 1u);
        if (kPublished[i] == 0) {
            // Undefined bytes map to the C1 control of the same value.
            EXPECT_EQ(static_cast<int>(u[0]), 0x80 + i);
            continue;
        }
        ++printable;
        EXPECT_EQ(static_cast<char32_t>(u[0]), kPublished[i]) << "byte 0x" << std::hex << 0x80 + i;
        EXPECT_EQ(utf16_to_cp1252(std::u16string(1, static_cast<char16_t>(kPublished[i]))), std::string(1, byte));
    }
    EXPECT_EQ(printable, 27);
    EXPECT_EQ(cp1252_to_utf8("\x80"), "\xE2\x82\xAC");  // €
    EXPECT_EQ(utf8_to_cp1252("\xE2\x82\xAC 5"), "\x80 5");
    EXPECT_EQ(cp1252_to_utf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    // The other C1 controls have no byte: U+0080 is not the euro sign.
    EXPECT_EQ(utf8_to_cp1252("\xC2\x80\xC2\x85\xC2\x9F"), "???");
    EXPECT_EQ(utf16_to_cp1252(u"\u0080\u0092"), "??");
}

TEST(Cp1252, GermanLetters) {
    const std::string bytes = "M\xFCller, Stra\xDF" "e, \xC4pfel, \xD6l, \xDC" "ber, \xE4\xF6";
    const std::string utf8 = "M\xC3\xBCller, Stra\xC3\x9F" "e, \xC3\x84pfel, \xC3\x96l, \xC3\x9C" "ber, \xC3\xA4\xC3\xB6";
    EXPECT_EQ(cp1252_to_utf8(bytes), utf8);
    EXPECT_EQ(utf8_to_cp1252(utf8), bytes);
    EXPECT_EQ(cp1252_to_utf16(bytes), u"Müller, Straße, Äpfel, Öl, Über, äö");
    EXPECT_EQ(utf16_to_cp1252(u"Müller, Straße"), "M\xFCller, Stra\xDF" "e");
    EXPECT_EQ(utf8_to_utf16(utf8), u"Müller, Straße, Äpfel, Öl, Über, äö");
    EXPECT_EQ(utf16_to_utf8(u"Straße"), "Stra\xC3\x9F" "e");
}

TEST(Cp1252, EmbeddedNulAndEmptyText) {
    const std::string with_nul("a\0b", 3);
    EXPECT_EQ(cp1252_to_utf8(with_nul), with_nul);
    EXPECT_EQ(utf8_to_cp1252(with_nul), with_nul);
    EXPECT_EQ(utf16_to_cp1252(cp1252_to_utf16(with_nul)), with_nul);
    EXPECT_EQ(cp1252_to_utf8(""), "");
    EXPECT_EQ(utf8_to_cp1252(""), "");
    EXPECT_EQ(utf16_to_utf8(u""), "");
    EXPECT_EQ(utf8_to_utf16(""), u"");
}

TEST(Cp1252, UnmappableCharactersBecomeOneQuestionMarkEach) {
    // Ł (2 bytes), 中 (3 bytes), 😀 (4 bytes, a surrogate pair in UTF-16).
    EXPECT_EQ(utf8_to_cp1252("\xC5\x81"), "?");
    EXPECT_EQ(utf8_to_cp1252("x\xE4\xB8\xADy"), "x?y");
    EXPECT_EQ(utf8_to_cp1252("a\xF0\x9F\x98\x80" "b\xC3\xA4"), "a?b\xE4");
    EXPECT_EQ(utf16_to_cp1252(u"Ł中😀ä"), "???\xE4");
    EXPECT_EQ(utf16_to_cp1252(u"\U0001F600\U0001F600"), "??");
    // Between UTF-8 and UTF-16 nothing is lost.
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(utf16_to_utf8(u"\U0001F600中Ł"), "\xF0\x9F\x98\x80\xE4\xB8\xAD\xC5\x81");
    EXPECT_EQ(utf16_to_utf8(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");
}

TEST(Cp1252, MalformedUtf8BecomesOneQuestionMarkPerBadSequence) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"\x80", "?"},                       // stray continuation byte
        {"a\xBF\xBF" "b", "a??b"},           // two stray continuation bytes
        {"\xC0\xAF", "?"},                   // overlong "/"
        {"\xE0\x80\xAF", "?"},               // overlong, three bytes
        {"\xF0\x80\x80\xAF", "?"},           // overlong, four bytes
        {"\xC3", "?"},                       // truncated at the end
        {"\xE2\x82", "?"},                   // truncated at the end
        {"\xE2\x82" "A", "?A"},              // truncated before an ASCII byte
        {"\xE2\xC3\xA4", "?\xE4"},           // truncated before a valid sequence
        {"\xED\xA0\x80", "?"},               // high surrogate encoded in UTF-8
        {"\xED\xBF\xBF", "?"},               // low surrogate encoded in UTF-8
        {"\xF4\x90\x80\x80", "?"},           // U+110000
        {"\xF7\xBF\xBF\xBF", "?"},           // far above U+10FFFF
        {"\xFE\xFF", "??"},                  // bytes no encoding uses
        {"\xF8\x88\x80\x80\x80", "?????"},   // old five-byte form: bad lead, then four strays
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_to_cp1252(c.in), c.out) << "input of " << c.in.size() << " bytes";
        EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(c.in)), cp1252_to_utf8(c.out)) << "input of " << c.in.size() << " bytes";
    }
    // The largest and smallest valid forms are accepted.
    EXPECT_EQ(utf8_to_utf16("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
    EXPECT_EQ(utf8_to_utf16("\xC2\x80"), u"\u0080");
    EXPECT_EQ(utf8_to_utf16("\xE0\xA0\x80"), u"\u0800");
    EXPECT_EQ(utf8_to_utf16("\xF0\x90\x80\x80"), u"\U00010000");
}

TEST(Cp1252, UnpairedUtf16SurrogatesBecomeQuestionMarks) {
    const std::u16string lone_high(1, char16_t(0xD800));
    const std::u16string lone_low(1, char16_t(0xDC00));
    EXPECT_EQ(utf16_to_cp1252(lone_high), "?");
    EXPECT_EQ(utf16_to_cp1252(lone_low), "?");
    EXPECT_EQ(utf16_to_utf8(lone_high + u"A"), "?A");
    EXPECT_EQ(utf16_to_utf8(lone_low + lone_high), "??");  // reversed pair
    EXPECT_EQ(utf16_to_utf8(lone_high + lone_high + lone_low), "?\xF0\x90\x80\x80");
    EXPECT_EQ(utf16_to_cp1252(u"a" + lone_high + u"\u00E4"), "a?\xE4");
}

TEST(Cp1252, RandomInputNeverBreaksTheInvariants) {
    std::mt19937 rng(1252);
    for (int round = 0; round < 2000; ++round) {
        std::string s(rng() % 40, '\0');
        for (char& c : s) {
            // Favour bytes that start or continue multi-byte sequences.
            unsigned r = rng() % 4 == 0 ? rng() % 0x80 : 0x80 + rng() % 0x80;
            c = static_cast<char>(r);
        }
        const std::string cp = utf8_to_cp1252(s);
        EXPECT_LE(cp.size(), s.size());
        // UTF-8 made from arbitrary bytes is well formed: it survives another pass unchanged.
        const std::string clean = utf16_to_utf8(utf8_to_utf16(s));
        EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(clean)), clean);
        EXPECT_EQ(utf8_to_cp1252(clean), cp);
        // Any byte string survives the trip through UTF-8 and UTF-16.
        EXPECT_EQ(utf8_to_cp1252(cp1252_to_utf8(s)), s);
        EXPECT_EQ(utf16_to_cp1252(utf8_to_utf16(cp1252_to_utf8(s))), s);
    }
}
