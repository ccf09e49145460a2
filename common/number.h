// Whole numbers read from text that must consist of the number alone.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ringolan::text {

// The whole text as a number of type T in the base (digits, and letters of either case above
// 10): a leading "-" only for signed T, no "+", no blanks. nullopt for any other text and for
// values outside T's range.
template <std::integral T>
std::optional<T> parse_number(std::string_view text, int base = 10) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || stop != end) return std::nullopt;
    return value;
}

// An optional "+" or "-" and decimal digits, nothing else; the magnitude is at most INT64_MAX
// (so -9223372036854775808 is refused). nullopt for any other text.
inline std::optional<int64_t> parse_whole_number(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const std::optional<uint64_t> magnitude = parse_number<uint64_t>(text);
    if (!magnitude || *magnitude > uint64_t(INT64_MAX)) return std::nullopt;
    return negative ? -int64_t(*magnitude) : int64_t(*magnitude);
}

}  // namespace ringolan::text
