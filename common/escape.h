// Request text echoed into a page or an attribute: <, >, " and ' become entities; "&" stays so
// that ordinary links come out unchanged.
#pragma once

#include <string>
#include <string_view>

namespace ringolan::text {

inline std::string escape_request_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace ringolan::text
