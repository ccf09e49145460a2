// Letter case of ASCII letters only: names, methods and paths compare this way; every other
// byte (Windows-1252 umlauts included) stays as it is.
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

}  // namespace ringolan::text
