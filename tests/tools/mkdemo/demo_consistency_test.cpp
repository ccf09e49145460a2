// Reproducibility, referential consistency and scaling of the demo.
#include <map>
#include <set>
#include <tuple>

#include "tests/tools/mkdemo/demo_access.h"

using namespace demo_test;

namespace {

template <class T>
std::set<T> column_set(const Db& db, const std::string& table, const std::string& column, bool unique = true) {
    std::set<T> s;
    const size_t c = db.col(table, column);
    for (const auto& r : db.rows(table)) {
        bool inserted;
        if constexpr (std::is_same_v<T, std::string>) inserted = s.insert(as_text(r[c])).second;
        else inserted = s.insert(as_int(r[c])).second;
        if (unique) {
            EXPECT_TRUE(inserted) << table << "." << column << " repeats";
        }
    }
    return s;
}

template <class T>
void expect_references(const Db& db, const std::string& table, const std::string& column, const std::set<T>& keys,
                       const std::string& what) {
    const size_t c = db.col(table, column);
    for (const auto& r : db.rows(table)) {
        ASSERT_FALSE(is_null(r[c])) << table << "." << column << " is NULL";
        if constexpr (std::is_same_v<T, std::string>)
            EXPECT_TRUE(keys.count(as_text(r[c]))) << table << "." << column << " " << as_text(r[c]) << " is no " << what;
        else
            EXPECT_TRUE(keys.count(as_int(r[c]))) << table << "." << column << " " << as_int(r[c]) << " is no " << what;
    }
}

void expect_consistent(const Db& db) {
    const auto startnr = column_set<int64_t>(db, "starter", "Startnr");
    const auto clubs = column_set<std::string>(db, "verein", "Vereinsnr");
    const auto erg = column_set<int64_t>(db, "ergebnis", "Erg_id");
    const auto sch = column_set<int64_t>(db, "scheiben", "Sch_id");
    const auto disc = column_set<int64_t>(db, "wettk", "DP_ID");
    const auto lists = column_set<int64_t>(db, "wettb_def", "ID");
    const auto teams = column_set<int64_t>(db, "mannschaft", "Mann_id");
    column_set<int64_t>(db, "wettb_opt_def", "ID");
    column_set<int64_t>(db, "Veranstaltung", "ID");

    expect_references(db, "starter", "Vereinsnr", clubs, "club");
    expect_references(db, "raenge", "Startnr", startnr, "shooter");
    expect_references(db, "raenge", "ErglistID", lists, "result list");
    expect_references(db, "ergebnis", "Startnr", startnr, "shooter");
    expect_references(db, "ergebnis", "DP_Id", disc, "discipline");
    expect_references(db, "zuordnung", "Erg_id", erg, "result");
    expect_references(db, "zuordnung", "Scheiben_id", sch, "target");
    expect_references(db, "wettb_opt_def", "Erglist_id", lists, "result list");
    expect_references(db, "mannschaft", "Wettb_id", lists, "result list");
    expect_references(db, "mannschaft", "vereinsnr", clubs, "club");
    expect_references(db, "mann_teiln", "Mann_id", teams, "team");
    expect_references(db, "mann_teiln", "Startnr", startnr, "shooter");

    // Every target belongs to exactly one result, at positions 1..n within it.
    const size_t z_erg = db.col("zuordnung", "Erg_id"), z_sch = db.col("zuordnung", "Scheiben_id"), z_pos = db.col("zuordnung", "pos");
    std::set<int64_t> assigned;
    std::map<int64_t, std::set<int64_t>> positions;
    for (const auto& r : db.rows("zuordnung")) {
        EXPECT_TRUE(assigned.insert(as_int(r[z_sch])).second) << "target " << as_int(r[z_sch]) << " assigned twice";
        EXPECT_TRUE(positions[as_int(r[z_erg])].insert(as_int(r[z_pos])).second);
    }
    EXPECT_EQ(assigned, sch);
    for (const auto& [e, pos] : positions) EXPECT_EQ(*pos.rbegin(), static_cast<int64_t>(pos.size())) << "result " << e;

    // Team lists are team competitions; a shooter is ranked at most once per list.
    const size_t l_id = db.col("wettb_def", "ID"), l_team = db.col("wettb_def", "mannschaft");
    std::map<int64_t, bool> is_team;
    for (const auto& r : db.rows("wettb_def")) is_team[as_int(r[l_id])] = std::get<bool>(r[l_team]);
    for (const auto& r : db.rows("mannschaft")) EXPECT_TRUE(is_team[as_int(r[db.col("mannschaft", "Wettb_id")])]);
    std::set<std::pair<int64_t, int64_t>> ranked;
    for (const auto& r : db.rows("raenge"))
        EXPECT_TRUE(ranked.insert({as_int(r[db.col("raenge", "ErglistID")]), as_int(r[db.col("raenge", "Startnr")])}).second);

    // Team members belong to the team's club, and are ranked in the team's list under their team.
    std::map<int64_t, std::string> club_of;
    for (const auto& r : db.rows("starter")) club_of[as_int(r[0])] = as_text(r[db.col("starter", "Vereinsnr")]);
    std::map<int64_t, std::pair<int64_t, std::string>> team;  // Mann_id -> list, club
    for (const auto& r : db.rows("mannschaft"))
        team[as_int(r[db.col("mannschaft", "Mann_id")])] = {as_int(r[db.col("mannschaft", "Wettb_id")]),
                                                             as_text(r[db.col("mannschaft", "vereinsnr")])};
    std::map<std::pair<int64_t, int64_t>, jet::Value> mid;  // (list, Startnr) -> MID
    for (const auto& r : db.rows("raenge"))
        mid[{as_int(r[db.col("raenge", "ErglistID")]), as_int(r[db.col("raenge", "Startnr")])}] = r[db.col("raenge", "MID")];
    for (const auto& r : db.rows("mann_teiln")) {
        const int64_t m = as_int(r[db.col("mann_teiln", "Mann_id")]), s = as_int(r[db.col("mann_teiln", "Startnr")]);
        EXPECT_EQ(club_of[s], team[m].second) << "member " << s << " of team " << m;
        const auto it = mid.find({team[m].first, s});
        ASSERT_NE(it, mid.end()) << "member " << s << " of team " << m << " has no rank in list " << team[m].first;
        EXPECT_EQ(as_int(it->second), m);
    }
}

// Two shooters of one individual list ranked by rings alone ("ring") with the same result
// and the same rank.
bool has_ring_tie(const Db& db) {
    std::set<int64_t> ring_lists;
    for (const auto& r : db.rows("wettb_def"))
        if (r[db.col("wettb_def", "Sortierung")] == jet::Value(std::string("ring")) && !std::get<bool>(r[db.col("wettb_def", "mannschaft")]))
            ring_lists.insert(as_int(r[0]));
    std::set<std::tuple<int64_t, int64_t, double>> seen;
    const size_t l = db.col("raenge", "ErglistID"), rang = db.col("raenge", "Rang"), h = db.col("raenge", "HauptErg");
    for (const auto& r : db.rows("raenge"))
        if (ring_lists.count(as_int(r[l])) && !seen.insert({as_int(r[l]), as_int(r[rang]), as_double(r[h])}).second) return true;
    return false;
}

bool same_tables(const std::vector<DemoTable>& a, const std::vector<DemoTable>& b, const std::string& only = "") {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!only.empty() && a[i].name != only) continue;
        if (a[i].name != b[i].name || a[i].rows != b[i].rows || a[i].columns.size() != b[i].columns.size()) return false;
    }
    return true;
}

}  // namespace

TEST(DemoConsistency, ReferencesHoldForManySizesAndSeeds) {
    for (const auto& [shooters, seed] : std::vector<std::pair<int, uint64_t>>{{1, 1}, {7, 3}, {60, 4}, {300, 1}, {300, 99}, {2500, 7}}) {
        SCOPED_TRACE("shooters " + std::to_string(shooters) + ", seed " + std::to_string(seed));
        const Db db(DemoOptions{shooters, seed, true});
        expect_consistent(db);
        EXPECT_EQ(db.rows("starter").size(), static_cast<size_t>(shooters));
    }
}

TEST(DemoConsistency, EvenSmallDemosHaveTiedRanks) {
    for (int shooters : {20, 30, 45, 300})
        for (uint64_t seed : {1, 2, 3}) {
            const Db db(DemoOptions{shooters, seed, true});
            EXPECT_TRUE(has_ring_tie(db)) << shooters << " shooters, seed " << seed;
            expect_consistent(db);
        }
}

TEST(DemoReproducibility, SameSeedSameTablesOtherSeedOtherData) {
    const auto a = ringolan::demo::make_demo({300, 5, true});
    const auto b = ringolan::demo::make_demo({300, 5, true});
    EXPECT_TRUE(same_tables(a, b));
    const auto c = ringolan::demo::make_demo({300, 6, true});
    EXPECT_FALSE(same_tables(a, c, "starter"));
    EXPECT_FALSE(same_tables(a, c, "scheiben"));
    EXPECT_FALSE(same_tables(a, c, "raenge"));
}

TEST(DemoReproducibility, LeavingOutItdatumChangesNothingElse) {
    const Db with(DemoOptions{300, 5, true}), without(DemoOptions{300, 5, false});
    for (const auto& t : with.tables())
        if (t.name != "Veranstaltung") {
            EXPECT_EQ(t.rows, without.table(t.name).rows) << t.name;
        }
    const size_t opt = with.col("Veranstaltung", "Option"), id = with.col("Veranstaltung", "ID");
    auto options = [&](const Db& db) {
        std::vector<jet::Row> v;
        for (auto r : db.rows("Veranstaltung"))
            if (as_text(r[opt]) != "itdatum") {
                r.erase(r.begin() + static_cast<long>(id));
                v.push_back(r);
            }
        return v;
    };
    EXPECT_EQ(options(with), options(without));
    EXPECT_EQ(with.rows("Veranstaltung").size(), without.rows("Veranstaltung").size() + 1);
}

TEST(DemoScaling, CountsGrowWithTheShooters) {
    const Db small(DemoOptions{300, 2, true}), large(DemoOptions{8000, 2, true});
    EXPECT_EQ(small.rows("starter").size(), 300u);
    EXPECT_EQ(large.rows("starter").size(), 8000u);
    EXPECT_GT(large.rows("verein").size(), 5 * small.rows("verein").size());
    EXPECT_GT(large.rows("wettk").size(), small.rows("wettk").size());
    EXPECT_GT(large.rows("wettb_def").size(), small.rows("wettb_def").size());
    EXPECT_GT(large.rows("mannschaft").size(), 5 * small.rows("mannschaft").size());
    for (const Db* db : {&small, &large}) {
        const double n = static_cast<double>(db->rows("starter").size());
        const double results = static_cast<double>(db->rows("ergebnis").size());
        EXPECT_GT(results, 1.2 * n);
        EXPECT_LT(results, 3.0 * n);
        EXPECT_GT(db->rows("scheiben").size(), 1.5 * results);
        EXPECT_LT(db->rows("scheiben").size(), 4.0 * results);
        EXPECT_GT(db->rows("raenge").size(), results);
    }
}
