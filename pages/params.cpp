#include "pages/params.h"

#include "common/ascii.h"
#include "common/escape.h"
#include "common/number.h"
#include "db/sql/query_error.h"
#include "pages/page_context.h"

namespace ringolan::pages {

const db::Snapshot& page_snapshot(const PageContext& ctx) {
    if (!ctx.snapshot) throw db::QueryError("Keine Wettkampfdatenbank ge\xF6" "ffnet");  // Windows-1252, as every page text
    return *ctx.snapshot;
}

std::string_view param_slice(std::string_view query, std::size_t start, std::size_t length) {
    if (start >= query.size()) return {};
    return query.substr(start, length);
}

std::string_view value_after_first_equals(std::string_view query) {
    const auto eq = query.find('=');
    if (eq == std::string_view::npos) return param_slice(query, 0);
    return param_slice(query, eq + 1);
}

std::string_view value_after_key(std::string_view query, std::string_view key, std::size_t fallback_start) {
    const auto at = query.find(key);
    if (at == std::string_view::npos) return param_slice(query, fallback_start);
    return param_slice(query, at + key.size());
}

std::string_view value_after_key(std::string_view query, std::string_view key) {
    // A missing key is found at 1-based position 0; the copy starts at 0 + key length (1-based).
    return value_after_key(query, key, key.empty() ? 0 : key.size() - 1);
}

std::string_view cut_before_amp(std::string_view value) {
    const auto amp = value.find('&');
    if (amp == std::string_view::npos) return {};
    return value.substr(0, amp);
}

std::string_view before_inner_amp(std::string_view value) {
    const auto amp = value.find('&');
    if (amp == std::string_view::npos || amp == 0) return value;
    return value.substr(0, amp);
}

namespace {

// "Ungültige <what>: »<value>«" with the value escaped, or "...: kein Wert angegeben".
[[noreturn]] void reject(std::string_view value, std::string_view what) {
    std::string message = "Ung\xFCltige";
    message += ' ';
    message.append(what);
    if (value.empty()) {
        message += ": kein Wert angegeben";
    } else {
        message += ": \xBB";
        for (char c : text::escape_html(value, text::Ampersand::Kept)) {
            if (c == '\0') message += "\\0";  // would end the message text
            else message += c;
        }
        message += "\xAB";
    }
    throw InputError(message);
}

}  // namespace

std::string_view quoted_text(std::string_view value, std::string_view what) {
    if (value.find_first_of(std::string_view("\"\0", 2)) != std::string_view::npos) reject(value, what);
    return value;
}

int64_t whole_number(std::string_view value, std::string_view what) {
    const std::optional<int64_t> number = text::parse_whole_number(text::trim(value, " "));
    if (!number) reject(value, what);
    return *number;
}

}  // namespace ringolan::pages
