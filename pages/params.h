// Query-text parameters of the pages. There is no general query parser: each page finds its
// key in the raw query text and copies a bounded number of characters behind it. The helpers
// below implement the few extraction rules the pages use, and the checks that turn a value
// into something bindable (or a clear German error).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ringolan::pages {

// Characters copied behind a key.
inline constexpr std::size_t kParamLength = 20;

// Up to `length` characters of `query` from the 0-based `start` on (fewer at the end).
std::string_view param_slice(std::string_view query, std::size_t start, std::size_t length = kParamLength);

// The text behind the first "=", at most 20 characters; the first 20 characters of the query
// when it holds no "=" (est.php).
std::string_view value_after_first_equals(std::string_view query);

// The text behind the first occurrence of `key` (case counts), at most 20 characters. When the
// key does not occur, the 20 characters from the 0-based `fallback_start` on are taken instead
// (1-based position 0 plus the key's length gives fallback_start = key.size() - 1; sb.php uses
// fixed starts).
std::string_view value_after_key(std::string_view query, std::string_view key, std::size_t fallback_start);
// Same with the fallback of a missing key found at 1-based position 0: key.size() - 1.
std::string_view value_after_key(std::string_view query, std::string_view key);

// The characters before the first "&"; empty when there is no "&" (the cut rule of
// erl.php, merl.php and sb.php).
std::string_view cut_before_amp(std::string_view value);
// The characters before the first "&" when it is the second character or a later one;
// otherwise (no "&", or "&" first) the whole value (mmerl.php).
std::string_view before_inner_amp(std::string_view value);

// A value spliced unquoted where a whole number belongs: optional blanks around an optional
// sign and decimal digits. Anything else throws InputError naming `what` in plain German,
// e.g. "Ungültige Startnummer: »12a«" (Windows-1252). The echoed value is HTML-escaped.
int64_t whole_number(std::string_view value, std::string_view what);

// A value spliced between the double quotes of a string literal, bound as text instead. A
// double quote in it would have ended the literal (a syntax error, or a statement of another
// meaning) and a NUL byte would have cut the statement short, so either throws InputError
// naming `what` like whole_number does; anything else, the empty text included, comes back
// unchanged.
std::string_view quoted_text(std::string_view value, std::string_view what);

}  // namespace ringolan::pages
