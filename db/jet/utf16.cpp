#include "db/jet/utf16.h"

#include "db/jet/writer.h"

namespace ringolan::jet {

std::u16string utf8_to_utf16_checked(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        size_t n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
        else throw WriteError("malformed UTF-8 text");
        if (i + n > s.size()) throw WriteError("malformed UTF-8 text");
        for (size_t k = 1; k < n; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) throw WriteError("malformed UTF-8 text");
            cp = cp << 6 | (cc & 0x3F);
        }
        static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) throw WriteError("malformed UTF-8 text");
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += n;
    }
    return out;
}

size_t utf16_length_checked(std::string_view utf8) { return utf8_to_utf16_checked(utf8).size(); }

}  // namespace ringolan::jet
