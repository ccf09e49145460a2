// Conversions between Windows-1252 bytes (the program's internal text) and Unicode.
//
// The five bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// the C1 controls of the same value and back, so every byte string survives a round trip.
// A character without a Windows-1252 byte becomes one "?" per code point (a surrogate pair
// counts as one). Malformed input never throws: each bad UTF-8 sequence (a stray or invalid
// byte, a truncated sequence, an overlong form, an encoded surrogate, a value above U+10FFFF)
// and each unpaired UTF-16 surrogate becomes one "?".
#pragma once

#include <string>
#include <string_view>

namespace ringolan::text {

std::string cp1252_to_utf8(std::string_view bytes);
std::string utf8_to_cp1252(std::string_view utf8);
// utf8_to_cp1252 appended to `out`.
void append_cp1252(std::string& out, std::string_view utf8);

std::u16string cp1252_to_utf16(std::string_view bytes);
std::string utf16_to_cp1252(std::u16string_view utf16);

std::u16string utf8_to_utf16(std::string_view utf8);
std::string utf16_to_utf8(std::u16string_view utf16);

}  // namespace ringolan::text
