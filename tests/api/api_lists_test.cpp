// Lists, teams and best ranks on a hand-made file where the demo has no such case: main
// result and E1 apart, two teams of equal rank, ties and hidden lists for the best rank.
#include <gtest/gtest.h>

#include "tests/api/api_fixture.h"
#include "tests/pages/competition_fixture.h"

namespace {

using namespace ringolan::test_api;
using ringolan::jet::Null;
using V = ringolan::jet::Value;

std::array<V, 7> parts(double e1) { return {e1, 1.5, Null{}, Null{}, Null{}, Null{}, Null{}}; }

class CraftedFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ringolan::test_pages::CompetitionFile f;
        f.club("01", std::string("SV Eins"));
        for (int64_t nr : {1, 2, 3}) f.shooter(nr, "Name" + std::to_string(nr), std::string("Vorname"), "01");
        f.list(1, std::string("Luftgewehr - Damen"), std::string("ring/blattl"));
        f.list(2, std::string("Zeta"), std::string("ring"));
        f.list(3, std::string("Alpha"), std::string("blattl/ring"));
        f.list(4, std::string("Versteckt"), false, int64_t(1));
        f.list(5, std::string("Mannschaft"), true, Null{});
        f.rank(1, 1, 2, 390.0, std::string("R"), parts(391));
        f.rank(1, 2, 1, 395.0, std::string("R"), parts(380));
        f.rank(2, 1, 2, 100.0, std::string("R"), parts(101));
        f.rank(2, 3, 5, 90.0, std::string("R"), parts(91));
        f.rank(3, 1, 2, 10.0, std::string("T"), parts(11));
        f.rank(4, 1, 1, 400.0, std::string("R"), parts(400));
        for (int64_t nr : {1, 2, 3}) f.rank(5, nr, nr, 300.0 + double(nr), std::string("R"), parts(0));
        f.team(1, 5, "01", std::string("Erste"), int64_t(1), 600.0);
        f.team(2, 5, "01", std::string("Zweite"), int64_t(1), 600.0);
        f.member(1, 1);
        f.member(1, 3);
        f.member(2, 2);
        snapshot_ = f.snapshot("crafted.mdb");
    }
    static void TearDownTestSuite() { snapshot_.reset(); }

    // One array of the answer (a copy: a range-for over a temporary's member would dangle).
    static Json get(const std::string& resource, const char* array) {
        const Reply r = ask(*snapshot_, resource);
        EXPECT_EQ(r.status, 200) << resource;
        return r.body[array];
    }
    static inline std::shared_ptr<const ringolan::db::Snapshot> snapshot_;
};

TEST_F(CraftedFile, ResultIsTheMainResultWhereTheSortOrderRanksByIt) {
    const std::pair<const char*, std::vector<double>> cases[] = {
        {"/lists/1", {395, 390}},  // ring/blattl: HauptErg
        {"/lists/2", {101, 91}},   // ring: E1
        {"/lists/3", {10}},        // blattl/ring: HauptErg
        {"/lists/4", {400}},       // hidden, but answered when asked for
    };
    for (const auto& [resource, results] : cases) {
        std::vector<double> shown;
        for (const Json& e : get(resource, "entries")) shown.push_back(e["result"]);
        EXPECT_EQ(shown, results) << resource;
    }
    std::vector<int64_t> offered;
    for (const Json& l : get("/lists", "lists")) offered.push_back(l["id"]);
    EXPECT_EQ(offered, (std::vector<int64_t>{5, 3, 1, 2}));
}

TEST_F(CraftedFile, TeamsOfEqualRankKeepTheirOwnMembers) {
    std::vector<std::pair<std::string, std::vector<int64_t>>> teams;
    for (const Json& t : get("/lists/5", "entries")) {
        teams.push_back({t["name"], {}});
        for (const Json& m : t["members"]) teams.back().second.push_back(m["startnr"]);
    }
    const decltype(teams) expected = {{"Erste", {1, 3}}, {"Zweite", {2}}};
    EXPECT_EQ(teams, expected);
}

TEST_F(CraftedFile, BestRankIsTheLowestVisibleSingleRankThenTheTitle) {
    std::vector<Json> best;
    for (const Json& s : get("/clubs/01", "shooters")) best.push_back(s["best"]["list"]);
    EXPECT_EQ(best, (std::vector<Json>{3, 1, 2}));  // a tie goes to "Alpha"; hidden and team lists never count
}

}  // namespace
