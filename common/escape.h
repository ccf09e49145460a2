// HTML escaping of text put into a page or an attribute: <, >, " and ' become entities, and
// "&" as the caller says.
#pragma once

#include <string>
#include <string_view>

namespace ringolan::text {

enum class Ampersand {
    Kept,     // request text echoed into a result page: ordinary links come out unchanged
    Escaped,  // stored text shown on the site's pages
};

inline std::string escape_html(std::string_view text, Ampersand ampersand) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += ampersand == Ampersand::Escaped ? "&amp;" : "&"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

// Request text echoed into a page ("&" kept). Still called by server/dispatcher.cpp.
inline std::string escape_request_text(std::string_view text) { return escape_html(text, Ampersand::Kept); }

}  // namespace ringolan::text
