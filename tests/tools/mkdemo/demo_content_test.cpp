// What the pages need to find in the demo, and whether the values are plausible: shots,
// Teiler and directions on the target face, ranks, teams, options and the event day.
#include <cmath>
#include <map>
#include <numbers>
#include <regex>
#include <set>

#include "tests/tools/mkdemo/demo_access.h"

using namespace demo_test;

namespace {

const Db& content_demo() {
    static const Db db(DemoOptions{});
    return db;
}

struct Shot {
    double r;
    int64_t t, w;
    bool pistol;
    int64_t dp_id = 0;
};

// Per result: discipline and targets (scheiben rows in position order).
struct Results {
    std::map<int64_t, std::pair<int64_t, int64_t>> erg;       // Erg_id -> Startnr, DP_Id
    std::map<int64_t, std::pair<std::optional<std::string>, std::optional<std::string>>> disc;  // DP_ID -> Scheibentyp, Teilermessung
    std::map<int64_t, const jet::Row*> target;                 // Sch_id -> row
    std::map<int64_t, std::map<int64_t, int64_t>> targets_of;  // Erg_id -> pos -> Sch_id
    explicit Results(const Db& db) {
        for (const auto& r : db.rows("ergebnis")) erg[as_int(r[0])] = {as_int(r[1]), as_int(r[2])};
        for (const auto& r : db.rows("wettk"))
            disc[as_int(r[0])] = {opt_text(r[db.col("wettk", "Scheibentyp")]), opt_text(r[db.col("wettk", "Teilermessung")])};
        for (const auto& r : db.rows("scheiben")) target[as_int(r[0])] = &r;
        for (const auto& r : db.rows("zuordnung"))
            targets_of[as_int(r[db.col("zuordnung", "Erg_id")])][as_int(r[db.col("zuordnung", "pos")])] =
                as_int(r[db.col("zuordnung", "Scheiben_id")]);
    }
    bool pistol(int64_t erg_id) const { return disc.at(erg.at(erg_id).second).first == std::string("Luftpistole"); }
};

const Results& results() {
    static const Results r(content_demo());
    return r;
}

std::vector<Shot> hits_of(const jet::Row& row, bool pistol) {
    std::vector<Shot> v;
    for (int i = 0; i < 15; ++i) {
        const auto& t = row[17 + i];
        if (!is_null(t) && as_int(t) > 0) v.push_back({as_double(row[2 + i]), as_int(t), as_int(row[32 + i]), pistol});
    }
    return v;
}

std::vector<Shot> all_hits() {
    std::vector<Shot> v;
    for (const auto& [erg, by_pos] : results().targets_of)
        for (const auto& [pos, sch] : by_pos) {
            for (auto& h : hits_of(*results().target.at(sch), results().pistol(erg))) {
                h.dp_id = results().erg.at(erg).second;
                v.push_back(h);
            }
        }
    return v;
}

struct RankRow {
    int64_t startnr, rang;
    double haupt;
    std::string einheit;
    std::array<jet::Value, 7> e;
};

struct ListInfo {
    std::string titel;
    std::optional<std::string> sortierung;
    bool team;
    std::optional<int64_t> selekt;
    std::vector<RankRow> rows;  // by rank
};

std::map<int64_t, ListInfo> lists() {
    const Db& db = content_demo();
    std::map<int64_t, ListInfo> m;
    for (const auto& r : db.rows("wettb_def")) {
        const auto& s = r[db.col("wettb_def", "selekt")];
        m[as_int(r[0])] = {as_text(r[db.col("wettb_def", "Titel")]), opt_text(r[db.col("wettb_def", "Sortierung")]),
                           std::get<bool>(r[db.col("wettb_def", "mannschaft")]),
                           is_null(s) ? std::nullopt : std::optional<int64_t>(as_int(s)), {}};
    }
    for (const auto& r : db.rows("raenge")) {
        RankRow row{as_int(r[db.col("raenge", "Startnr")]), as_int(r[db.col("raenge", "Rang")]),
                    as_double(r[db.col("raenge", "HauptErg")]), opt_text(r[db.col("raenge", "Einheit")]).value_or(""), {}};
        for (int i = 0; i < 7; ++i) row.e[i] = r[db.col("raenge", "E" + std::to_string(i + 1))];
        m[as_int(r[db.col("raenge", "ErglistID")])].rows.push_back(row);
    }
    for (auto& [id, l] : m)
        std::stable_sort(l.rows.begin(), l.rows.end(), [](const RankRow& a, const RankRow& b) { return a.rang < b.rang; });
    return m;
}

bool main_result_mode(const ListInfo& l) { return l.sortierung == "ring/blattl" || l.sortierung == "blattl/ring"; }

}  // namespace

TEST(DemoShots, ShotsAreContiguousAndUnusedSlotsEmpty) {
    bool unused_zero = false, unused_null = false, partial = false, empty = false;
    for (const auto& row : content_demo().rows("scheiben")) {
        double sum = 0;
        int shots = 0;
        for (int i = 0; i < 15; ++i) {
            const auto &r = row[2 + i], &t = row[17 + i], &w = row[32 + i];
            if (!is_null(t) && as_int(t) > 0) {
                ASSERT_EQ(shots, i) << "shot " << i + 1 << " follows an empty slot in target " << as_int(row[0]);
                ++shots;
                ASSERT_FALSE(is_null(r));
                ASSERT_FALSE(is_null(w));
                EXPECT_GE(as_double(r), 0.0);
                EXPECT_LE(as_double(r), 10.9 + 1e-9);
                EXPECT_GE(as_int(w), 0);
                EXPECT_LT(as_int(w), 32768);
                sum += as_double(r);
            } else {
                EXPECT_EQ(num_or_zero(r), 0.0);
                EXPECT_EQ(num_or_zero(w), 0.0);
                (is_null(t) ? unused_null : unused_zero) = true;
            }
        }
        EXPECT_NEAR(as_double(row[1]), sum, 1e-6) << "summe of target " << as_int(row[0]);
        partial |= shots > 0 && shots < 10;
        empty |= shots == 0;
    }
    EXPECT_TRUE(unused_zero);
    EXPECT_TRUE(unused_null);
    EXPECT_TRUE(partial);
    EXPECT_TRUE(empty) << "a target without shots (best Teiler shows as 10000)";
}

// A hit scores 10 while its centre is within one ring width of the target centre (the 10 ring's
// radius plus the pellet's), one ring less for every further ring width, nothing beyond ten.
// t / 100 is the distance in hundredths of a millimetre, so the ring width of 2.5 mm on the
// rifle face is t = 25000 and that of 8 mm on the air pistol face t = 80000.
TEST(DemoShots, RingsFollowFromTheTeilerOnTheFace) {
    std::map<int64_t, std::vector<std::pair<int64_t, double>>> by_discipline;
    size_t pistol = 0;
    for (const auto& s : all_hits()) {
        const int64_t width = s.pistol ? 80000 : 25000;
        const int64_t ring = s.t >= 10 * width ? 0 : 10 - s.t / width;
        EXPECT_EQ(static_cast<int64_t>(std::floor(s.r + 1e-9)), ring) << "t " << s.t << " R " << s.r;
        by_discipline[s.dp_id].push_back({s.t, s.r});
        pistol += s.pistol;
    }
    EXPECT_GT(pistol, 100u) << "shots on the air pistol face";
    for (auto& [dp, v] : by_discipline) {  // farther from the centre never scores more
        std::sort(v.begin(), v.end());
        for (size_t i = 1; i < v.size(); ++i) EXPECT_LE(v[i].second, v[i - 1].second + 1e-9);
    }
}

// Hit positions as the target picture page places them must land on the picture, and the
// directions must go all round the face.
TEST(DemoShots, HitsLieOnTheTargetPicture) {
    size_t inside = 0, total = 0;
    std::array<size_t, 4> quadrant{};
    for (const auto& s : all_hits()) {
        const double sx = s.pistol ? 0.0318 : 0.109, sy = s.pistol ? 0.032 : 0.1103;
        const double ox = s.pistol ? 243 : 224, oy = s.pistol ? 246 : 228, w = s.pistol ? 500 : 498, h = s.pistol ? 503 : 501;
        const double angle = s.w / 32768.0 * 2 * std::numbers::pi;
        const double x = ox + std::sin(angle) * s.t / 100 * sx, y = oy - std::cos(angle) * s.t / 100 * sy;
        inside += x >= 0 && x <= w && y >= 0 && y <= h;
        ++total;
        ++quadrant[static_cast<size_t>(s.w / 8192)];
    }
    EXPECT_GE(inside, total * 99 / 100);
    for (size_t q : quadrant) {
        EXPECT_GT(q, total * 15 / 100);
        EXPECT_LT(q, total * 35 / 100);
    }
}

TEST(DemoShots, ShotValuesArePlausible) {
    std::vector<double> rifle, pistol;
    for (const auto& s : all_hits()) (s.pistol ? pistol : rifle).push_back(s.r);
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    EXPECT_GE(median(rifle), 9.0);
    EXPECT_LE(median(rifle), 10.5);
    EXPECT_GE(median(pistol), 7.5);
    EXPECT_LE(median(pistol), 10.0);
}

TEST(DemoDisciplines, TargetTypesAndMeasurementsThePagesTellApart) {
    std::set<std::optional<std::string>> typ, mess;
    for (const auto& [id, d] : results().disc) {
        typ.insert(d.first);
        mess.insert(d.second);
    }
    EXPECT_TRUE(typ.count(std::string("Luftpistole")));
    EXPECT_GE(typ.size(), 2u);
    EXPECT_TRUE(mess.count(std::string("Blattl")));
    EXPECT_TRUE(mess.count(std::string("Ring")));
    EXPECT_TRUE(mess.count(std::nullopt));
    EXPECT_GE(mess.size(), 4u) << "another measurement besides Blattl, Ring and NULL";
    std::set<int64_t> shot;
    for (const auto& [erg, by_pos] : results().targets_of) shot.insert(results().erg.at(erg).second);
    EXPECT_EQ(shot.size(), results().disc.size()) << "every discipline has targets";
}

// Standard competition ranking: equal results share a rank, the next rank skips.
TEST(DemoRanks, ListsRankByTheirRuleWithTies) {
    bool tie = false;
    for (const auto& [id, l] : lists()) {
        SCOPED_TRACE(l.titel);
        const bool by_teiler = !l.rows.empty() && l.rows[0].einheit == "T";
        for (size_t i = 0; i < l.rows.size(); ++i) {
            const auto& r = l.rows[i];
            EXPECT_DOUBLE_EQ(as_double(r.e[0]), r.haupt);
            if (i == 0) {
                EXPECT_EQ(r.rang, 1);
                continue;
            }
            const auto& p = l.rows[i - 1];
            EXPECT_TRUE(r.rang == p.rang || r.rang == static_cast<int64_t>(i) + 1) << "rank " << r.rang << " at " << i + 1;
            if (by_teiler) {
                EXPECT_GE(r.haupt, p.haupt);
            } else {
                EXPECT_LE(r.haupt, p.haupt);
            }
            if (r.rang == p.rang) {
                EXPECT_EQ(r.haupt, p.haupt);
                tie = true;
            }
        }
    }
    EXPECT_TRUE(tie) << "no equal results with equal ranks";
}

TEST(DemoRanks, MainResultsComeFromTheShootersTargets) {
    std::map<int64_t, std::vector<std::pair<double, double>>> totals;  // Startnr -> (ring total, first card)
    std::map<int64_t, std::vector<double>> teiler;                   // Startnr -> best Teiler per result
    for (const auto& [erg, by_pos] : results().targets_of) {
        double total = 0, first = 0;
        int64_t best = 0;
        for (const auto& [pos, sch] : by_pos) {
            const auto& row = *results().target.at(sch);
            total += as_double(row[1]);
            if (pos == 1) first = as_double(row[1]);
            for (const auto& s : hits_of(row, false))
                if (best == 0 || s.t < best) best = s.t;
        }
        const int64_t st = results().erg.at(erg).first;
        totals[st].push_back({total, first});
        teiler[st].push_back(best ? best / 100.0 : 10000.0);
    }
    for (const auto& [id, l] : lists())
        for (const auto& r : l.rows) {
            bool found = false;
            if (r.einheit == "T")
                for (double t : teiler[r.startnr]) found |= std::fabs(t - r.haupt) < 1e-6;
            else
                for (const auto& [total, first] : totals[r.startnr])
                    found |= std::fabs(total - r.haupt) < 1e-6 || (l.team && std::fabs(first - r.haupt) < 1e-6);
            EXPECT_TRUE(found) << l.titel << ": " << r.startnr << " " << r.haupt;
        }
}

TEST(DemoRanks, RankingRulesUnitsAndPartResults) {
    std::set<std::optional<std::string>> rules;
    bool part_list_r = false, inside = false, low = false, high = false;
    for (const auto& [id, l] : lists()) {
        if (!l.rows.empty()) rules.insert(l.sortierung);
        for (const auto& r : l.rows) {
            for (int i = 1; i < 5; ++i) {
                if (is_null(r.e[i])) continue;
                const double v = as_double(r.e[i]);
                inside |= v > 0.1 && v < 10000;
                low |= v <= 0.1;
                high |= v >= 10000;
            }
            if (main_result_mode(l) || r.einheit != "R") continue;
            // Part results 3 to 7 of a ring list are its series; together they make the total.
            double series = 0;
            for (int i = 2; i < 7; ++i) series += num_or_zero(r.e[i]);
            EXPECT_NEAR(series, r.haupt, 1e-6) << l.titel;
            part_list_r |= !is_null(r.e[5]) && as_double(r.e[5]) > 0;
        }
    }
    EXPECT_TRUE(rules.count(std::string("ring/blattl")));
    EXPECT_TRUE(rules.count(std::string("blattl/ring")));
    EXPECT_TRUE(rules.count(std::nullopt));
    EXPECT_GE(rules.size(), 4u);
    EXPECT_TRUE(part_list_r) << "a part-result list with unit R and four series";
    EXPECT_TRUE(inside);
    EXPECT_TRUE(low) << "E2..E5 at or below 0.1";
    EXPECT_TRUE(high) << "E2..E5 at or above 10000";
}

TEST(DemoLists, SelektHidesSomeListsAndLeavesOthersNull) {
    int hidden = 0, null_selekt = 0, shown_team = 0, shown_single = 0, empty = 0;
    for (const auto& [id, l] : lists()) {
        if (l.selekt == 1) {
            ++hidden;
            EXPECT_FALSE(l.rows.empty()) << "a hidden list worth hiding";
            continue;
        }
        null_selekt += !l.selekt.has_value();
        (l.team ? shown_team : shown_single) += !l.rows.empty();
        empty += l.rows.empty();
    }
    EXPECT_GE(hidden, 1);
    EXPECT_GE(null_selekt, 3);
    EXPECT_GE(shown_team, 1);
    EXPECT_GE(shown_single, 3);
    EXPECT_GE(empty, 1) << "a list without ranked shooters";
}

TEST(DemoTeams, TeamResultsAddUpTheCountingMembers) {
    const Db& db = content_demo();
    std::map<int64_t, int64_t> counting;  // list -> MANNMODE
    for (const auto& r : db.rows("wettb_opt_def"))
        if (as_text(r[db.col("wettb_opt_def", "Option")]) == "MANNMODE")
            counting[as_int(r[db.col("wettb_opt_def", "Erglist_id")])] = as_int(r[db.col("wettb_opt_def", "Wert_In")]);
    ASSERT_FALSE(counting.empty());
    const auto all = lists();
    std::map<int64_t, std::vector<int64_t>> members;
    for (const auto& r : db.rows("mann_teiln")) members[as_int(r[0])].push_back(as_int(r[1]));
    std::map<int64_t, std::vector<std::pair<double, int64_t>>> by_list;  // list -> (MErgebnis, MRang)
    bool reserve = false;
    for (const auto& r : db.rows("mannschaft")) {
        const int64_t mann = as_int(r[0]), list = as_int(r[db.col("mannschaft", "Wettb_id")]);
        const double result = as_double(r[db.col("mannschaft", "MErgebnis")]);
        by_list[list].push_back({result, as_int(r[db.col("mannschaft", "MRang")])});
        if (!counting.count(list)) continue;
        const int64_t c = counting[list];
        ASSERT_GE(static_cast<int64_t>(members[mann].size()), c) << "team " << mann;
        reserve |= static_cast<int64_t>(members[mann].size()) > c;
        std::vector<double> haupt;
        for (int64_t st : members[mann])
            for (const auto& row : all.at(list).rows)
                if (row.startnr == st) haupt.push_back(row.haupt);
        ASSERT_EQ(haupt.size(), members[mann].size());
        std::sort(haupt.rbegin(), haupt.rend());
        double sum = 0;
        for (int64_t i = 0; i < c; ++i) sum += haupt[static_cast<size_t>(i)];
        EXPECT_NEAR(result, sum, 1e-6) << "team " << mann;
    }
    EXPECT_TRUE(reserve) << "a team with members beyond the counting number";
    for (auto& [list, teams] : by_list) {
        EXPECT_GE(teams.size(), 2u);
        std::sort(teams.begin(), teams.end(), [](auto& a, auto& b) { return a.second < b.second; });
        for (size_t i = 1; i < teams.size(); ++i) {
            EXPECT_GE(teams[i - 1].first, teams[i].first);
            EXPECT_EQ(teams[i].second == teams[i - 1].second, teams[i].first == teams[i - 1].first);
        }
    }
}

TEST(DemoPeople, NamesNullsAndShootersWithoutResults) {
    const Db& db = content_demo();
    std::map<std::string, int> surnames;
    bool null_vorname = false, null_klasse = false, sharp_s = false;
    std::set<std::string> initials;
    for (const auto& r : db.rows("starter")) {
        const std::string n = as_text(r[db.col("starter", "Nachname")]);
        ++surnames[n];
        initials.insert(n.substr(0, 2));
        sharp_s |= n.find("ß") != std::string::npos;
        null_vorname |= is_null(r[db.col("starter", "Vorname")]);
        null_klasse |= is_null(r[db.col("starter", "Klasse")]);
    }
    for (const char* u : {"Ä", "Ö", "Ü"}) EXPECT_TRUE(initials.count(u)) << "a surname starting with " << u;
    EXPECT_TRUE(sharp_s);
    EXPECT_TRUE(null_vorname);
    EXPECT_TRUE(null_klasse);
    EXPECT_GE(std::count_if(surnames.begin(), surnames.end(), [](auto& p) { return p.second > 1; }), 3);

    std::set<int64_t> with_results, ranked;
    for (const auto& r : db.rows("ergebnis")) with_results.insert(as_int(r[1]));
    for (const auto& r : db.rows("raenge")) ranked.insert(as_int(r[db.col("raenge", "Startnr")]));
    int idle = 0;
    for (const auto& r : db.rows("starter")) idle += !with_results.count(as_int(r[0])) && !ranked.count(as_int(r[0]));
    EXPECT_GE(idle, 5);

    std::set<std::string> clubs_with_shooters;
    for (const auto& r : db.rows("starter")) clubs_with_shooters.insert(as_text(r[db.col("starter", "Vereinsnr")]));
    EXPECT_LT(clubs_with_shooters.size(), db.rows("verein").size()) << "a club without shooters";
}

TEST(DemoEvent, OptionsAndTimesOnTheCompetitionDay) {
    const Db& db = content_demo();
    std::map<std::string, const jet::Row*> opt;
    for (const auto& r : db.rows("Veranstaltung")) opt[as_text(r[db.col("Veranstaltung", "Option")])] = &r;
    ASSERT_TRUE(opt.count("itdatum"));
    ASSERT_TRUE(opt.count("Datum"));
    const std::string datum = as_text((*opt["Datum"])[db.col("Veranstaltung", "Wert_str")]);
    const std::string itdatum = as_text((*opt["itdatum"])[db.col("Veranstaltung", "Wert_str")]);
    EXPECT_TRUE(std::regex_match(itdatum, std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)"))) << itdatum;
    EXPECT_EQ(itdatum.substr(0, 10), datum);
    bool null_float = false;
    for (const auto& [name, r] : opt) null_float |= is_null((*r)[db.col("Veranstaltung", "Wert_float")]);
    EXPECT_TRUE(null_float);

    const double day = ringolan::jet::make_datetime(std::stoi(datum.substr(6)), std::stoi(datum.substr(3, 2)),
                                                    std::stoi(datum.substr(0, 2))).days;
    auto on_day = [&](const jet::Value& v) {
        const double d = std::get<jet::DateTime>(v).days;
        return d >= day + 6.0 / 24 && d < day + 21.0 / 24;
    };
    for (const auto& r : db.rows("zuordnung")) EXPECT_TRUE(on_day(r[db.col("zuordnung", "Zeit")]));
    for (const auto& r : db.rows("wettb_def")) EXPECT_TRUE(on_day(r[db.col("wettb_def", "zeitstempel")]));
    bool null_wert_float = false;
    for (const auto& r : db.rows("wettb_opt_def")) null_wert_float |= is_null(r[db.col("wettb_opt_def", "Wert_float")]);
    EXPECT_TRUE(null_wert_float);
}
