// /search?q=TEXT: shooters by start number or name and clubs by name.
//
// Names match when they contain the text with letter case ignored the way the snapshot's
// like() ignores it (simple Unicode case folding per character, umlauts distinct from their
// base letters, "ß" not "ss"). The matching runs here rather than in a LIKE: Jet's LIKE has no
// escape for "%" and "_", which must match themselves, and the dialect cannot join first and
// last name for "Vorname Nachname". The order comes from the statements (Jet collation).
#include <unicode/uchar.h>

#include <algorithm>

#include "api/json_values.h"
#include "api/resources.h"
#include "common/ascii.h"
#include "common/cp1252.h"

namespace ringolan::api {

namespace {

constexpr std::size_t kMaxQueryLength = 100;  // characters
constexpr std::size_t kMaxResults = 50;       // shooters and clubs together

constexpr std::string_view kShooters =
    "SELECT starter.Startnr, starter.Nachname, starter.Vorname, starter.Vereinsnr, verein.Name FROM starter "
    "LEFT JOIN verein ON verein.Vereinsnr = starter.Vereinsnr ORDER BY starter.Nachname, starter.Vorname, "
    "starter.Startnr";
constexpr std::string_view kClubs = "SELECT Vereinsnr, Name FROM verein ORDER BY Name, Vereinsnr";

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "+" as a blank and "%XX" as its byte; a "%" without two hex digits stays itself.
std::string form_decoded(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '+') {
            out += ' ';
        } else if (value[i] == '%' && i + 2 < value.size() && hex_digit(value[i + 1]) >= 0 &&
                   hex_digit(value[i + 2]) >= 0) {
            out += static_cast<char>(hex_digit(value[i + 1]) * 16 + hex_digit(value[i + 2]));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

// The decoded value of the first "q" in the query text; empty when there is none.
std::string search_text(std::string_view query) {
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair == "q" || pair.starts_with("q=")) return form_decoded(pair.substr(std::min<size_t>(2, pair.size())));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return {};
}

// Windows-1252 text with each character case-folded as like() folds it.
std::u16string folded(std::string_view cp1252) {
    std::u16string out = text::cp1252_to_utf16(cp1252);
    for (char16_t& c : out) c = static_cast<char16_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT));
    return out;
}

bool contains(const db::Field& field, const std::u16string& needle) {
    return !field.is_null() && folded(field.as_text()).find(needle) != std::u16string::npos;
}

struct Search {
    std::string text;       // Windows-1252
    std::u16string needle;  // folded
    std::optional<int64_t> startnr;
};

bool shooter_matches(const db::Query& q, const Search& s) {
    if (s.startnr && q.field("Startnr").as_int() == *s.startnr) return true;
    if (contains(q.field("Nachname"), s.needle) || contains(q.field("Vorname"), s.needle)) return true;
    const std::string full = q.field("Vorname").as_text() + " " + q.field("Nachname").as_text();
    return folded(full).find(s.needle) != std::u16string::npos;
}

Json shooters(const db::Snapshot& snapshot, const Search& s) {
    Json out = Json::array();
    db::Query q;
    q.set_command(kShooters);
    q.open(snapshot);
    for (; !q.at_end() && out.size() < kMaxResults; q.next()) {
        if (!shooter_matches(q, s)) continue;
        Json shooter = Json::object();
        shooter["startnr"] = number_or_null(q.field("Startnr"));
        shooter["name"] = text_or_null(q.field("Nachname"));
        shooter["first_name"] = text_or_null(q.field("Vorname"));
        shooter["club"] = text_or_null(q.field("Name"));
        shooter["club_nr"] = text_or_null(q.field("Vereinsnr"));
        out.push_back(std::move(shooter));
    }
    return out;
}

Json clubs(const db::Snapshot& snapshot, const Search& s, size_t room) {
    Json out = Json::array();
    db::Query q;
    q.set_command(kClubs);
    q.open(snapshot);
    for (; !q.at_end() && out.size() < room; q.next()) {
        if (!contains(q.field("Name"), s.needle)) continue;
        Json club = Json::object();
        club["nr"] = text_or_null(q.field("Vereinsnr"));
        club["name"] = text_or_null(q.field("Name"));
        out.push_back(std::move(club));
    }
    return out;
}

}  // namespace

Answer search_resource(const db::Snapshot& snapshot, std::string_view query) {
    // One Windows-1252 byte per character.
    const std::string given = text::utf8_to_cp1252(search_text(query));
    if (given.size() > kMaxQueryLength)
        return error_answer(400, "Der Suchtext ist zu lang (h\u00f6chstens 100 Zeichen).");
    Search s;
    s.text = std::string(text::trim(given, " \t\r\n"));
    s.needle = folded(s.text);
    if (std::all_of(s.text.begin(), s.text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        s.startnr = parse_id(s.text);

    Json body = answer_object(snapshot);
    body["q"] = utf8(s.text);
    body["shooters"] = Json::array();
    body["clubs"] = Json::array();
    if (s.text.empty()) return json_answer(body);
    body["shooters"] = shooters(snapshot, s);
    body["clubs"] = clubs(snapshot, s, kMaxResults - body["shooters"].size());
    return json_answer(body);
}

}  // namespace ringolan::api
