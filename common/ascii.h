// ASCII-only text helpers: letter case, blanks and hex digits. Every other byte (Windows-1252
// umlauts included) stays as it is; names, methods and paths compare this way.
#pragma once

#include <string>
#include <string_view>

namespace ringolan::text {

inline std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

inline std::string ascii_upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return out;
}

// Equal but for the letter case of ASCII letters (names of tables, columns and headers).
template <class Char>
constexpr bool equal_ignoring_case(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    const auto fold = [](Char c) { return c >= 'A' && c <= 'Z' ? Char(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}
inline bool equal_ignoring_case(std::string_view a, std::string_view b) { return equal_ignoring_case<char>(a, b); }
inline bool equal_ignoring_case(std::u16string_view a, std::u16string_view b) {
    return equal_ignoring_case<char16_t>(a, b);
}

// Without the leading and trailing characters of `set` (by default the blanks of header and
// settings lines: space and tab).
inline std::string_view trim(std::string_view s, std::string_view set = " \t") {
    const size_t first = s.find_first_not_of(set);
    if (first == std::string_view::npos) return s.substr(s.size());
    return s.substr(first, s.find_last_not_of(set) - first + 1);
}

// Without leading and trailing control bytes and spaces (every byte up to 0x20).
inline std::string_view trim_controls(std::string_view s) {
    const auto control = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!s.empty() && control(s.front())) s.remove_prefix(1);
    while (!s.empty() && control(s.back())) s.remove_suffix(1);
    return s;
}

// The value of a hex digit (either letter case); -1 for any other character.
constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace ringolan::text
