// Values of a raw query text "k=v&k2=v2", percent-decoded.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ringolan::site {

// Every "%" with two hex digits becomes that byte; anything else, "+" included, stays
// (uploads send "+" as a plain character).
std::string percent_decode(std::string_view text);

// The decoded value of the first pair whose decoded key is `key`; a pair without "=" has an
// empty value. nullopt when the key is absent.
std::optional<std::string> query_value(std::string_view query, std::string_view key);

// Percent-encodes every byte except letters, digits and "-._~" (for links on the pages).
std::string percent_encode(std::string_view text);

}  // namespace ringolan::site
