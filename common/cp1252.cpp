#include "common/cp1252.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace ringolan::text {
namespace {

constexpr char32_t kBad = 0xFFFFFFFF;  // a malformed sequence, written as "?"

// Code point of each byte 0x80..0x9F; the rest of the byte range maps to itself.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

constexpr std::array<char16_t, 256> make_to_unicode() {
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = static_cast<char16_t>(b);
    for (int b = 0; b < 32; ++b) t[0x80 + b] = kHigh[b];
    return t;
}
constexpr std::array<char16_t, 256> kToUnicode = make_to_unicode();

// UTF-8 form of every byte (all code points above are below U+10000, so at most 3 bytes).
struct Utf8Form {
    uint8_t len;
    char bytes[3];
};
constexpr std::array<Utf8Form, 256> make_utf8_forms() {
    std::array<Utf8Form, 256> t{};
    for (int b = 0; b < 256; ++b) {
        char16_t c = kToUnicode[b];
        if (c < 0x80) {
            t[b] = {1, {static_cast<char>(c), 0, 0}};
        } else if (c < 0x800) {
            t[b] = {2, {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F)), 0}};
        } else {
            t[b] = {3,
                    {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                     static_cast<char>(0x80 | (c & 0x3F))}};
        }
    }
    return t;
}
constexpr std::array<Utf8Form, 256> kUtf8Forms = make_utf8_forms();

// The 27 code points of 0x80..0x9F that are not C1 controls, sorted by code point.
struct Reverse {
    char16_t cp;
    uint8_t byte;
};
constexpr std::array<Reverse, 27> make_reverse() {
    std::array<Reverse, 27> r{};
    size_t n = 0;
    for (int b = 0; b < 32; ++b) {
        if (kHigh[b] >= 0x100) r[n++] = {kHigh[b], static_cast<uint8_t>(0x80 + b)};
    }
    for (size_t i = 1; i < r.size(); ++i) {  // insertion sort, evaluated at compile time
        for (size_t j = i; j > 0 && r[j].cp < r[j - 1].cp; --j) {
            Reverse tmp = r[j];
            r[j] = r[j - 1];
            r[j - 1] = tmp;
        }
    }
    return r;
}
constexpr std::array<Reverse, 27> kReverse = make_reverse();

char to_byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    if (cp <= 0x9F) {
        // C1 controls: only the five undefined bytes stand for themselves.
        return kToUnicode[cp] == cp ? static_cast<char>(cp) : '?';
    }
    if (cp > 0xFFFF) return '?';
    auto it = std::lower_bound(kReverse.begin(), kReverse.end(), static_cast<char16_t>(cp),
                               [](const Reverse& r, char16_t c) { return r.cp < c; });
    return (it != kReverse.end() && it->cp == cp) ? static_cast<char>(it->byte) : '?';
}

// Decodes one code point at s[i] and advances i; a malformed sequence yields kBad.
// A sequence is the lead byte and the continuation bytes it announces; decoding stops
// before the first byte that does not continue it.
char32_t next_utf8(std::string_view s, size_t& i) {
    unsigned char b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len;
    char32_t cp;
    char32_t min;
    if (b0 >= 0xC0 && b0 <= 0xDF) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF7) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++i;  // stray continuation byte or a lead byte no encoding uses
        return kBad;
    }
    size_t j = i + 1;
    for (int k = 1; k < len; ++k, ++j) {
        if (j >= s.size() || (static_cast<unsigned char>(s[j]) & 0xC0) != 0x80) {
            i = j;  // truncated
            return kBad;
        }
        cp = (cp << 6) | (static_cast<unsigned char>(s[j]) & 0x3F);
    }
    i = j;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kBad;
    return cp;
}

// Decodes one code point at s[i] and advances i; an unpaired surrogate yields kBad.
char32_t next_utf16(std::u16string_view s, size_t& i) {
    char16_t u = s[i++];
    if (u < 0xD800 || u > 0xDFFF) return u;
    if (u <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
        char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (s[i] - 0xDC00);
        ++i;
        return cp;
    }
    return kBad;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp == kBad) {
        out.push_back('?');
    } else if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp == kBad) {
        out.push_back(u'?');
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

}  // namespace

std::string cp1252_to_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char c : bytes) {
        const Utf8Form& f = kUtf8Forms[static_cast<unsigned char>(c)];
        out.append(f.bytes, f.len);
    }
    return out;
}

std::string utf8_to_cp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    append_cp1252(out, utf8);
    return out;
}

void append_cp1252(std::string& out, std::string_view utf8) {
    for (size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            out.push_back(utf8[i++]);
            continue;
        }
        char32_t cp = next_utf8(utf8, i);
        out.push_back(cp == kBad ? '?' : to_byte(cp));
    }
}

std::u16string cp1252_to_utf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) out.push_back(kToUnicode[static_cast<unsigned char>(c)]);
    return out;
}

std::string utf16_to_cp1252(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size();) {
        char32_t cp = next_utf16(utf16, i);
        out.push_back(cp == kBad ? '?' : to_byte(cp));
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) append_utf16(out, next_utf8(utf8, i));
    return out;
}

std::string utf16_to_utf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size() + utf16.size() / 2);
    for (size_t i = 0; i < utf16.size();) append_utf8(out, next_utf16(utf16, i));
    return out;
}

}  // namespace ringolan::text
