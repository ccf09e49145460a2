// The invariant check on answers of GET /api/v1/shooters/{startnr}, consistent and torn.
#include <gtest/gtest.h>

#include "tools/mkdemo/live_invariant.h"

namespace {

using ringolan::demo::live_inconsistency;

std::string target(const std::string& discipline, const std::string& ring, const std::string& shots) {
    return R"({"id":1,"discipline":")" + discipline + R"(","ring":)" + ring + R"(,"shots":[)" + shots + "]}";
}
std::string shot(double ring, double teiler) {
    return R"({"n":1,"ring":)" + std::to_string(ring) + R"(,"teiler":)" + std::to_string(teiler) + "}";
}
std::string rank(const std::string& title, double result, const std::string& unit, bool team = false) {
    return R"({"list":1,"title":")" + title + R"(","team":)" + (team ? "true" : "false") + R"(,"rank":1,"result":)" +
           std::to_string(result) + R"(,"unit":")" + unit + R"("})";
}
std::string answer(const std::vector<std::string>& ranks, const std::vector<std::string>& targets) {
    std::string s = R"({"state":1,"startnr":101,"ranks":[)";
    for (size_t i = 0; i < ranks.size(); ++i) s += (i ? "," : "") + ranks[i];
    s += R"(],"targets":[)";
    for (size_t i = 0; i < targets.size(); ++i) s += (i ? "," : "") + targets[i];
    return s + "]}";
}

TEST(LiveInvariant, TellsConsistentFromTornAnswers) {
    const std::string lg = "Luftgewehr 40 Schuss", lp = "Luftpistole", lpa = "Luftpistole Auflage", ks = "Königsscheibe";
    const std::string card1 = target(lg, "20.5", shot(10.4, 120.5) + "," + shot(10.1, 250.75));
    const std::string card2 = target(lg, "9.8", shot(9.8, 310.0));
    const std::string king = target(ks, "null", shot(9.9, 410.0) + "," + shot(10.7, 35.27));
    struct Case {
        const char* what;
        std::string json;
        bool consistent;
    } cases[] = {
        {"ring list: the sum of the cards", answer({rank(lg + " - Schützenklasse", 30.3, "R")}, {card1, card2}), true},
        {"ring list: a card not yet counted", answer({rank(lg + " - Schützenklasse", 20.5, "R")}, {card1, card2}), false},
        {"card total without its new shot", answer({}, {target(lg, "20.5", shot(10.4, 1) + "," + shot(10.1, 2) + "," + shot(9.0, 3))}), false},
        {"Teiler list: the best shot", answer({rank(ks, 35.27, "T")}, {king}), true},
        {"Teiler list: an older best", answer({rank(ks, 410.0, "T")}, {king}), false},
        {"Teiler list without a shot", answer({rank(ks, 10000, "T")}, {target(ks, "null", "")}), true},
        {"preliminary round: the first card", answer({rank(lg + " - Mannschaft Vorrunde", 20.5, "R", true)}, {card1, card2}), true},
        {"preliminary round: all cards", answer({rank(lg + " - Mannschaft Vorrunde", 30.3, "R", true)}, {card1, card2}), false},
        {"team list: all cards", answer({rank(lg + " - Mannschaft", 30.3, "R", true)}, {card1, card2}), true},
        {"round markers", answer({rank(lg + " - Jugend ~R12~", 30.3, "R")}, {target(lg + " ~R12~", "20.5", shot(10.4, 1) + "," + shot(10.1, 2)), target(lg + " ~R12~", "9.8", shot(9.8, 3))}), true},
        {"the longest discipline name", answer({rank(lpa + " - Senioren", 9.0, "R")}, {target(lp, "8", shot(8, 1)), target(lpa, "9", shot(9, 2))}), true},
        {"no JSON", "{\"ranks\":[", false},
    };
    for (const Case& c : cases) {
        const std::string why = live_inconsistency(c.json);
        EXPECT_EQ(why.empty(), c.consistent) << c.what << ": " << why;
    }
}

}  // namespace
