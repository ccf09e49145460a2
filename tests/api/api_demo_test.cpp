// The API on the 300-shooter demo and on a later round of it, checked against the tables
// read by the npm reader: every list, shooter and club of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "pages/erlselphp.h"
#include "tests/api/api_fixture.h"
#include "tools/mkdemo/demo.h"

namespace {

using namespace ringolan::test_api;
using Rows = std::vector<ReaderRow>;

struct Competition {
    std::shared_ptr<const ringolan::db::Snapshot> snapshot;
    std::map<std::string, Rows> tables;
};

// Round 0 is read as state 1, round 2 as state 2; each file is written and read once.
const Competition& competition(uint32_t round) {
    static std::map<uint32_t, Competition> cache;
    if (const auto it = cache.find(round); it != cache.end()) return it->second;
    const auto file = test_dir() / ("demo" + std::to_string(round) + ".mdb");
    ringolan::demo::write_demo(ringolan::demo::DemoOptions{300, 1, true, round}, file);
    return cache[round] = Competition{snapshot_of(file, round == 0 ? 1 : 2), read_with_mdbreader(file)};
}

std::string key(const Json& number) { return number.dump(); }

Rows where(const Rows& rows, const std::string& column, const std::string& value) {
    Rows out;
    for (const ReaderRow& r : rows)
        if (r.cells.at(column) == value) out.push_back(r);
    return out;
}

const ReaderRow* find(const Rows& rows, const std::string& column, const std::string& value) {
    for (const ReaderRow& r : rows)
        if (r.cells.at(column) == value) return &r;
    return nullptr;
}

bool is_team(const ReaderRow& list) { return list.cells.at("mannschaft") == "true"; }
bool is_hidden(const ReaderRow& list) { return list.integer("selekt") == 1; }

void expect_ascending(const Json& items, const char* field, const std::string& where) {
    for (size_t i = 1; i < items.size(); ++i) EXPECT_LE(items[i - 1][field], items[i][field]) << where << " #" << i;
}

std::vector<Json> sorted_by(const Json& items, const char* first, const char* second) {
    std::vector<Json> v(items.begin(), items.end());
    std::sort(v.begin(), v.end(), [&](const Json& a, const Json& b) {
        return std::tie(a[first], a[second]) < std::tie(b[first], b[second]);
    });
    return v;
}

class DemoApi : public ::testing::TestWithParam<uint32_t> {
protected:
    const Rows& table(const std::string& name) const { return competition(GetParam()).tables.at(name); }

    Json get(const std::string& resource, const std::string& query = {}) const {
        const Reply r = ask(*competition(GetParam()).snapshot, resource, query);
        EXPECT_EQ(r.status, 200) << resource;
        EXPECT_EQ(r.body.begin().key(), "state") << resource;
        EXPECT_EQ(r.body["state"], GetParam() == 0 ? 1 : 2) << resource;
        return r.body;
    }
};

INSTANTIATE_TEST_SUITE_P(Rounds, DemoApi, ::testing::Values(0u, 2u));

TEST_P(DemoApi, StateNamesTheEventOfTheFile) {
    const Json body = get("/state");
    EXPECT_TRUE(std::regex_match(body["read"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    const std::pair<const char*, const char*> options[] = {
        {"name", "Bezeichnung"}, {"organizer", "Veranstalter"}, {"place", "Ort"}, {"date", "Datum"}};
    for (const auto& [field, option] : options)
        EXPECT_EQ(body["competition"][field], find(table("veranstaltung"), "option", key(option))->text("wert_str"));
}

TEST_P(DemoApi, ListsAreTheVisibleListsInTheIndexPageOrder) {
    const Json lists = get("/lists")["lists"];
    ringolan::pages::PageContext ctx;
    ctx.snapshot = competition(GetParam()).snapshot;
    const std::string page = ringolan::pages::erlsel_page(ctx);
    std::vector<Json> page_ids, ids;
    const std::regex link("titel=(\\d+)");
    for (std::sregex_iterator m(page.begin(), page.end(), link), end; m != end; ++m)
        page_ids.push_back(std::stoll((*m)[1]));
    for (const Json& l : lists) ids.push_back(l["id"]);
    EXPECT_EQ(ids, page_ids);

    size_t visible = 0;
    for (const ReaderRow& def : table("wettb_def")) visible += !is_hidden(def);
    EXPECT_EQ(lists.size(), visible);
    for (const Json& l : lists) {
        const ReaderRow& def = *find(table("wettb_def"), "id", key(l["id"]));
        EXPECT_EQ(l["title"], def.text("titel"));
        EXPECT_EQ(l["team"], is_team(def));
        const size_t entries = is_team(def) ? where(table("mannschaft"), "wettb_id", key(l["id"])).size()
                                            : where(table("raenge"), "erglistid", key(l["id"])).size();
        EXPECT_EQ(l["entries"], entries) << l["title"];
    }
}

TEST_P(DemoApi, SingleListsShowTheirRanksWithShooterAndClub) {
    for (const ReaderRow& def : table("wettb_def")) {
        if (is_team(def)) continue;
        const std::string id = def.cells.at("id");
        const Json sort = def.text("sortierung");
        const bool main_result = sort == "ring/blattl" || sort == "blattl/ring";
        Json expected = Json::array();
        for (const ReaderRow& r : where(table("raenge"), "erglistid", id)) {
            const ReaderRow* s = find(table("starter"), "startnr", r.cells.at("startnr"));
            const ReaderRow* club = s ? find(table("verein"), "vereinsnr", s->cells.at("vereinsnr")) : nullptr;
            if (!club) continue;
            expected.push_back({{"rank", r.integer("rang")},
                                {"startnr", r.integer("startnr")},
                                {"name", s->text("nachname")},
                                {"first_name", s->text("vorname")},
                                {"club", club->text("name")},
                                {"club_nr", club->text("vereinsnr")},
                                {"result", number(r.number(main_result ? "haupterg" : "e1"))},
                                {"unit", r.text("einheit")},
                                {"parts",
                                 {number(r.number("e1")), number(r.number("e2")), number(r.number("e3")),
                                  number(r.number("e4")), number(r.number("e5"))}}});
        }
        const Json body = get("/lists/" + id);
        EXPECT_EQ(body["title"], def.text("titel"));
        EXPECT_EQ(body["sort"], sort);
        expect_ascending(body["entries"], "rank", id);
        EXPECT_EQ(sorted_by(body["entries"], "rank", "startnr"), sorted_by(expected, "rank", "startnr")) << id;
    }
}

TEST_P(DemoApi, TeamListsShowTheirTeamsWithRankedMembers) {
    for (const ReaderRow& def : table("wettb_def")) {
        if (!is_team(def)) continue;
        const std::string id = def.cells.at("id");
        const Rows ranks = where(table("raenge"), "erglistid", id);
        Json expected = Json::array();
        for (const ReaderRow& team : where(table("mannschaft"), "wettb_id", id)) {
            Json members = Json::array();
            for (const ReaderRow& m : where(table("mann_teiln"), "mann_id", team.cells.at("mann_id"))) {
                const ReaderRow* s = find(table("starter"), "startnr", m.cells.at("startnr"));
                const ReaderRow* r = find(ranks, "startnr", m.cells.at("startnr"));
                if (s && r)
                    members.push_back({{"startnr", s->integer("startnr")},
                                       {"name", s->text("nachname")},
                                       {"first_name", s->text("vorname")},
                                       {"result", number(r->number("haupterg"))},
                                       {"rank", r->integer("rang")}});
            }
            if (!members.empty())
                expected.push_back({{"rank", team.integer("mrang")},
                                    {"name", team.text("name")},
                                    {"result", number(team.number("mergebnis"))},
                                    {"members", members}});
        }
        Json teams = get("/lists/" + id)["entries"];
        expect_ascending(teams, "rank", id);
        for (Json& team : teams) {  // members by rank in the list, then compared by start number
            for (Json& m : team["members"]) m["rank"] = find(ranks, "startnr", key(m["startnr"]))->integer("rang");
            expect_ascending(team["members"], "rank", id);
        }
        for (Json* side : {&teams, &expected})
            for (Json& team : *side) team["members"] = sorted_by(team["members"], "startnr", "rank");
        EXPECT_EQ(sorted_by(teams, "rank", "name"), sorted_by(expected, "rank", "name")) << id;
    }
}

// A target of est.php and sb.php from its scheiben and wettk rows.
void expect_target(const Json& target, const ReaderRow& scheibe, const ReaderRow& wettk) {
    const std::string measuring =
        wettk.text("teilermessung").is_null() ? "" : wettk.text("teilermessung").get<std::string>();
    EXPECT_EQ(target["discipline"], wettk.text("bezeichnung"));
    EXPECT_EQ(target["face"], wettk.text("scheibentyp") == "Luftpistole" ? "air_pistol" : "air_rifle");
    EXPECT_EQ(target["ring"],
              measuring == "Blattl" ? Json(nullptr) : Json(std::round(*scheibe.number("summe") * 10) / 10));
    int64_t best = 0;
    double sum_x = 0, sum_y = 0;
    size_t shot = 0;
    for (int n = 1; n <= 15; ++n) {
        const std::string t = "t" + std::to_string(n), w = "w" + std::to_string(n);
        if (scheibe.integer(t) <= 0) continue;
        if (best == 0 || scheibe.integer(t) < best) best = scheibe.integer(t);
        const double mm = scheibe.integer(t) / 10000.0, turns = double(scheibe.integer(w)) * 2 * 3.14159;
        const double x = std::sin(turns / 32767) * mm, y = std::cos(turns / 32768) * mm;
        sum_x += x;
        sum_y += y;
        ASSERT_LT(shot, target["shots"].size());
        const Json& s = target["shots"][shot++];
        EXPECT_EQ(s["n"], n);
        EXPECT_EQ(s["ring"], number(scheibe.number("r" + std::to_string(n))));
        EXPECT_EQ(s["teiler"], scheibe.integer(t) / 100.0);
        EXPECT_NEAR(s["x"].get<double>(), x, 0.0051);
        EXPECT_NEAR(s["y"].get<double>(), y, 0.0051);
    }
    EXPECT_EQ(target["shots"].size(), shot);
    const bool no_teiler = measuring == "Ring" || best == 0;
    EXPECT_EQ(target["teiler"], no_teiler ? Json(nullptr) : Json(double((best + 5) / 10) / 10));
    if (shot < 2) {
        EXPECT_TRUE(target["mean"].is_null());
        return;
    }
    EXPECT_NEAR(target["mean"]["x"].get<double>(), sum_x / shot, 0.0051);
    EXPECT_NEAR(target["mean"]["y"].get<double>(), sum_y / shot, 0.0051);
}

TEST_P(DemoApi, ShooterTargetsAreTheirScheibenRows) {
    for (const ReaderRow& s : table("starter")) {
        const std::string nr = s.cells.at("startnr");
        std::map<std::string, std::pair<const ReaderRow*, const ReaderRow*>> expected;  // Sch_id: scheiben, wettk
        for (const ReaderRow& e : where(table("ergebnis"), "startnr", nr))
            for (const ReaderRow& z : where(table("zuordnung"), "erg_id", e.cells.at("erg_id")))
                expected[z.cells.at("scheiben_id")] = {find(table("scheiben"), "sch_id", z.cells.at("scheiben_id")),
                                                       find(table("wettk"), "dp_id", e.cells.at("dp_id"))};
        const Json body = get("/shooters/" + nr);
        EXPECT_EQ(body["name"], s.text("nachname"));
        ASSERT_EQ(body["targets"].size(), expected.size()) << nr;
        for (const Json& target : body["targets"]) {
            const auto& [scheibe, wettk] = expected.at(key(target["id"]));
            expect_target(target, *scheibe, *wettk);
        }
    }
}

TEST_P(DemoApi, ShooterRanksAreTeamRanksThenVisibleSingleRanks) {
    for (const ReaderRow& s : table("starter")) {
        const std::string nr = s.cells.at("startnr");
        std::vector<Json> expected;
        for (const ReaderRow& r : where(table("raenge"), "startnr", nr)) {
            const ReaderRow& def = *find(table("wettb_def"), "id", r.cells.at("erglistid"));
            const Json rank = {
                {"list", r.integer("erglistid")}, {"title", def.text("titel")},       {"team", is_team(def)},
                {"rank", r.integer("rang")},      {"result", number(r.number("e1"))}, {"unit", r.text("einheit")}};
            if (!is_team(def) && !is_hidden(def)) expected.push_back(rank);
            if (is_team(def))  // once per team of the list the shooter belongs to
                for (const ReaderRow& m : where(table("mann_teiln"), "startnr", nr))
                    if (find(table("mannschaft"), "mann_id", m.cells.at("mann_id"))->cells.at("wettb_id") ==
                        key(rank["list"]))
                        expected.push_back(rank);
        }
        const Json ranks = get("/shooters/" + nr)["ranks"];
        for (size_t i = 1; i < ranks.size(); ++i) EXPECT_GE(ranks[i - 1]["team"], ranks[i]["team"]) << nr;
        EXPECT_EQ(sorted_by(ranks, "list", "rank"), sorted_by(expected, "list", "rank")) << nr;
    }
}

TEST_P(DemoApi, ClubsCountTheirShooters) {
    Json expected = Json::array();
    for (const ReaderRow& club : table("verein")) {
        const size_t shooters = where(table("starter"), "vereinsnr", club.cells.at("vereinsnr")).size();
        if (shooters)
            expected.push_back({{"nr", club.text("vereinsnr")}, {"name", club.text("name")}, {"shooters", shooters}});
    }
    const Json clubs = get("/clubs")["clubs"];
    for (size_t i = 1; i < clubs.size(); ++i) EXPECT_GE(clubs[i - 1]["shooters"], clubs[i]["shooters"]);
    EXPECT_EQ(sorted_by(clubs, "nr", "name"), sorted_by(expected, "nr", "name"));
}

TEST_P(DemoApi, ClubShootersCarryTheirBestVisibleSingleRank) {
    for (const ReaderRow& club : table("verein")) {
        const Json body = get("/clubs/" + club.text("vereinsnr").get<std::string>());
        EXPECT_EQ(body["name"], club.text("name"));
        const Rows members = where(table("starter"), "vereinsnr", club.cells.at("vereinsnr"));
        ASSERT_EQ(body["shooters"].size(), members.size());
        for (const Json& shooter : body["shooters"]) {
            int64_t best = 0;
            for (const ReaderRow& r : where(table("raenge"), "startnr", key(shooter["startnr"]))) {
                const ReaderRow& def = *find(table("wettb_def"), "id", r.cells.at("erglistid"));
                if (!is_team(def) && !is_hidden(def) && r.integer("rang") > 0 &&
                    (best == 0 || r.integer("rang") < best))
                    best = r.integer("rang");
            }
            EXPECT_EQ(shooter["best"].is_null() ? Json(0) : shooter["best"]["rank"], best) << shooter["startnr"];
        }
    }
}

TEST(DemoRounds, ALaterRoundIsANewStateWithTheNewTexts) {
    const std::string marker = ringolan::demo::round_marker(2);
    const std::string startnr = competition(0).tables.at("starter").front().cells.at("startnr");
    for (const std::string& resource :
         std::vector<std::string>{"/lists", "/lists/1", "/clubs", "/shooters/" + startnr}) {
        Json first = ask(*competition(0).snapshot, resource).body, later = ask(*competition(2).snapshot, resource).body;
        EXPECT_EQ(first["state"], 1);
        EXPECT_EQ(later["state"], 2);
        EXPECT_EQ(first.dump().find(marker), std::string::npos) << resource;
        EXPECT_NE(later.dump().find(marker), std::string::npos) << resource;
    }
}

}  // namespace
