// What holds in a demo file between two changes of `ringolan-mkdemo --live`, checked on an
// answer of GET /api/v1/shooters/{startnr}:
//
//   1. every target's ring total (scheiben.summe) is the sum of its shots' rings (R_n of the
//      shots with t_n > 0), to the tenth;
//   2. every rank's result (raenge.E1, equal to HauptErg) follows from the shooter's targets
//      of the list's discipline:
//      - Teiler lists (unit "T"): the lowest shot Teiler, 10000 without a shot;
//      - a preliminary team round (title "... - Mannschaft Vorrunde"): the first card's total;
//      - all other lists: the sum of the card totals, to the tenth.
//
// A change writes the target's page first and the rank pages last (see live_store.h), so an
// answer built from a file caught between two page writes of one change breaks (2) for the
// shooter changed, unless the new shot scored 0. Rank order (Rang) is not covered.
//
// Header only (nlohmann/json), for the simulator's tests and the soak client.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace ringolan::demo {

// The text without a round marker " ~R<digits>~" at its end.
inline std::string_view without_round_marker(std::string_view s) {
    if (s.size() < 5 || s.back() != '~') return s;
    size_t i = s.size() - 1;
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    if (i == s.size() - 1 || i < 3 || s.substr(i - 3, 3) != " ~R") return s;
    return s.substr(0, i - 3);
}

// The discipline a list title belongs to: the index of the longest name N with the title
// being N or starting with N + " - " (round markers ignored); -1 for none.
inline int discipline_of_title(std::string_view title, const std::vector<std::string>& names) {
    const std::string_view t = without_round_marker(title);
    int best = -1;
    size_t best_length = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string_view n = without_round_marker(names[i]);
        const bool match = t == n || (t.size() > n.size() + 3 && t.substr(0, n.size()) == n && t.substr(n.size(), 3) == " - ");
        if (match && (best < 0 || n.size() > best_length)) {
            best = static_cast<int>(i);
            best_length = n.size();
        }
    }
    return best;
}

inline bool is_preliminary_round(std::string_view title) {
    constexpr std::string_view kEnd = " - Mannschaft Vorrunde";
    const std::string_view t = without_round_marker(title);
    return t.size() >= kEnd.size() && t.substr(t.size() - kEnd.size()) == kEnd;
}

namespace live_detail {

using Json = nlohmann::json;

inline double number(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_number() ? it->get<double>() : 0.0;
}

inline std::string text(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

struct Card {
    double total = 0;          // ring total shown, else the sum of the shots' rings
    double best_teiler = 0;    // 0: no shot
};

inline std::string shown(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

}  // namespace live_detail

// Why the answer breaks the invariant, or "" when it holds.
inline std::string live_inconsistency(std::string_view answer) {
    using live_detail::Json;
    const Json j = Json::parse(answer, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return "the answer is no JSON object";
    const Json empty = Json::array();
    const Json& targets = j.contains("targets") && j["targets"].is_array() ? j["targets"] : empty;
    const Json& ranks = j.contains("ranks") && j["ranks"].is_array() ? j["ranks"] : empty;

    std::vector<std::string> names;                 // disciplines, in order of appearance
    std::vector<std::vector<live_detail::Card>> cards;  // per discipline, in card order
    for (const Json& t : targets) {
        live_detail::Card c;
        double shots = 0;
        if (t.contains("shots") && t["shots"].is_array())
            for (const Json& s : t["shots"]) {
                shots += live_detail::number(s, "ring");
                const double teiler = live_detail::number(s, "teiler");
                if (teiler > 0 && (c.best_teiler == 0 || teiler < c.best_teiler)) c.best_teiler = teiler;
            }
        const bool shown_ring = t.contains("ring") && t["ring"].is_number();
        c.total = shown_ring ? t["ring"].get<double>() : shots;
        if (shown_ring && std::fabs(c.total - shots) > 0.05)
            return "target " + t.value("id", Json()).dump() + ": ring total " + live_detail::shown(c.total) +
                   ", its shots " + live_detail::shown(shots);
        const std::string name = live_detail::text(t, "discipline");
        size_t d = 0;
        while (d < names.size() && names[d] != name) ++d;
        if (d == names.size()) {
            names.push_back(name);
            cards.emplace_back();
        }
        cards[d].push_back(c);
    }

    for (const Json& r : ranks) {
        if (!r.contains("result") || !r["result"].is_number()) continue;
        const double result = r["result"].get<double>();
        const std::string title = live_detail::text(r, "title");
        const int d = discipline_of_title(title, names);
        static const std::vector<live_detail::Card> none;
        const auto& own = d < 0 ? none : cards[static_cast<size_t>(d)];
        double expected = 0;
        double tolerance = 0.05;
        if (live_detail::text(r, "unit") == "T") {
            expected = 10000;
            tolerance = 0.005;
            for (const auto& c : own)
                if (c.best_teiler > 0 && c.best_teiler < expected) expected = c.best_teiler;
        } else if (r.value("team", false) && is_preliminary_round(title)) {
            expected = own.empty() ? 0 : own.front().total;
        } else {
            for (const auto& c : own) expected += c.total;
        }
        if (std::fabs(result - expected) > tolerance)
            return "rank in \"" + title + "\": result " + live_detail::shown(result) + ", the targets give " +
                   live_detail::shown(expected);
    }
    return {};
}

inline bool live_consistent(std::string_view answer) { return live_inconsistency(answer).empty(); }

}  // namespace ringolan::demo
