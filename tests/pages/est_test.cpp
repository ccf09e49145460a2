// est.php on small competitions: pages compared byte for byte with texts put together by hand
// from the page's pieces, the Teiler and number rules, and hostile start numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/query/query.h"
#include "pages/estphp.h"
#include "server/page_routes.h"
#include "tests/pages/est_fixture.h"
#include "tests/server/page_literals.h"

namespace {

using namespace ringolan::test_pages;
using ringolan::jet::Null;
using ringolan::jet::Value;
using ringolan::pages::PageContext;
using C = Competition;

// ---- The page's pieces, typed from its description ----

std::string head(const std::string& surname, const std::string& first, const std::string& nr, const std::string& club) {
    return "     <a href=\"vstbl.php\">Meistbeteiligungsliste</a> |     <a href=\"mmerl.php?vnr=" + nr +
           "\">Mannschaften</a><hr>\r<font size=\"5\">" + surname + ", " + first + " </font><br>\r    <a href=\"vst.php?NR=" +
           nr + "\">" + club + "    </a> | <a href=\"mmerl.php?vnr=" + nr +
           "\">Mannschaften</a><hr>\r<b>Geschossene Ergebnisse</b><br>\r<table border=\"0\" >  <tr>    <td width=\"250\">"
           "<b>Scheiben</b></td>    <td width=\"50\" align=\"right\"><b>Ring</b></td><td width=\"50\" align=\"right\">"
           "<b>Teiler</b></td></tr>\r";
}

const std::string kRankHead =
    "</table><table border=0><tr><th><p align=\"left\">Wettbewerb</p> </th><th>Rang </th>.<th>Erg</th><th> </th></tr>";
const std::string kEnd = "</table> ";

std::string target(const std::string& st, const std::string& bz, const std::string& sid, const std::string& name,
                   const std::string& ring, const std::string& teiler) {
    const std::string link = "<a href=\"sb.php?ST=" + st + "&sb=LG1&bz=" + bz + "&sid=" + sid + "\">";
    return "<tr><td>" + link + name + "</a></td>\r<td align=\"right\">" + ring + "</td>\r<td align=\"right\">" + teiler +
           "</td>\r<td>" + link + " <img border=\"0\" src=\"scheibe2.png\" alt=\"Schussbild\"></a></td></tr>\r\r";
}

struct Shown {
    std::string list, rang, title, e1, unit;
    std::vector<std::string> e;  // E2 to E5 as shown
};

std::string team_row(const std::string& st, const Shown& r, const std::string& vnr) {
    const std::string link = "<a href=\"merl.php?startnr=" + st + "&titel=" + r.list + "&Rang=" + r.rang + "\">";
    std::string s = "<tr><td>" + link + r.title + "</a></td><td>Mann</td><td><p align=\"right\"><b>" + r.e1 + " " + r.unit +
                    "</b></p></td>";
    for (const auto& e : r.e) s += "<td><p align=\"right\">" + e + "</p></td>";
    return s + "<td>" + link + "<img border=\"0\" src=\"liste.gif\" alt=\"Rangliste\"></a><a href=\"mmerl.php?vnr=" + vnr +
           "&wettbid=" + r.list + "\"><img border=\"0\" src=\"Drucker.gif\" alt=\"Nur Dein Verein\"></a></td></tr>";
}

std::string single_row(const std::string& st, const Shown& r) {
    const std::string link = "<a href=\"erl.php.php?startnr=" + st + "&titel=" + r.list + "&Rang=" + r.rang + "\">";
    std::string s = "<tr><td>" + link + r.title + "</a></td><td>" + r.rang + "</td>\r<td><p align=\"right\"><b>" + r.e1 +
                    " " + r.unit + "</b></p></td>\r";
    for (const auto& e : r.e) s += "<td><p align=\"right\">" + e + "</p></td>\r";
    return s + "<td>" + link + "<img border=\"0\" src=\"liste.gif\" alt=\"Rangliste\"></a>\r</td></tr>";
}

std::array<Value, 15> teiler(std::vector<Value> values) {
    std::array<Value, 15> t{};
    for (size_t i = 0; i < values.size(); ++i) t[i] = values[i];
    return t;
}

// ---- Fixture ----

// Club 12 with shooters 1017 and 1018; shooter 1020 names a club that has no row.
Competition base() {
    C c;
    c.clubs = {{"12", "SV Tell Öhringen"}, {"13", "SG <b>Linde</b> & Co"}};
    c.starters = {{1017, "Müller", "Anna", "12"}, {1018, "Weber", "Jan", "12"}, {1019, "Kern", "Ute", "13"},
                  {1020, "Ohne", "Verein", "99"}};
    c.disciplines = {{1, "Luftgewehr 40", std::string("")}, {2, "Luftpistole", std::string("Ring")},
                     {3, "Auflage Blattl", std::string("Blattl")}, {4, "Kleinkaliber", std::string("blattl")},
                     {5, "Zimmerstutzen", Null{}}};
    return c;
}

PageContext context(const std::string& file, const Competition& c) {
    PageContext ctx;
    ctx.snapshot = competition_snapshot(file, c);
    return ctx;
}

// ---- Whole pages ----

TEST(EstPage, WholePageOfAShooterWithTargetsTeamAndSingleRanks) {
    C c = base();
    c.results = {{1, 1017, 1}, {2, 1017, 2}, {3, 1018, 1}};
    c.targets = {
        {101, 1, 2, 95.25, teiler({int64_t{0}, int64_t{1234}, int64_t{987}})},
        {100, 1, 1, 100.04, teiler({int64_t{0}, int64_t{0}, int64_t{0}, int64_t{0}, int64_t{0}, int64_t{0},
                                    int64_t{0}, int64_t{0}, int64_t{0}, int64_t{0}, int64_t{0}, int64_t{0},
                                    int64_t{0}, int64_t{0}, int64_t{0}})},
        {102, 2, 1, 88.0, teiler({int64_t{350}})},
        {103, 3, 1, 90.0, teiler({int64_t{100}})},  // shooter 1018
    };
    c.lists = {{5, "Einzel LG", false, Null{}},     {6, "Mannschaft LG", true, Null{}}, {7, "Versteckt", false, int64_t{1}},
               {8, "Finale", false, int64_t{2}},    {9, "Mannschaft LP", true, int64_t{1}}};
    c.ranks = {
        {5, 1017, int64_t{3}, "Ringe", {395.25, 0.1, 10000.0, 9999.9, -2.0}},
        {6, 1017, int64_t{4}, "Ringe", {1180.5, 0.0, Null{}, 10.25, 0.11}},
        {7, 1017, int64_t{2}, "Ringe", {300.0, Null{}, Null{}, Null{}, Null{}}},
        {8, 1017, int64_t{1}, "Ringe", {398.0, Null{}, Null{}, Null{}, Null{}}},
        {9, 1017, int64_t{2}, "Ringe", {360.0, Null{}, Null{}, Null{}, Null{}}},
        {5, 1018, int64_t{1}, "Ringe", {399.0, Null{}, Null{}, Null{}, Null{}}},
    };
    c.teams = {{60, 6, "12", "Tell I"}, {61, 6, "13", "Linde I"}, {90, 9, "12", "Tell LP"}};
    c.members = {{60, 1017}, {60, 1018}, {61, 1019}, {90, 1017}};
    PageContext ctx = context("whole.mdb", c);

    const std::string expected =
        "     <a href=\"vstbl.php\">Meistbeteiligungsliste</a> |     <a href=\"mmerl.php?vnr=12\">Mannschaften</a><hr>\r"
        "<font size=\"5\">M\xFCller, Anna </font><br>\r"
        "    <a href=\"vst.php?NR=12\">SV Tell \xD6hringen    </a> | <a href=\"mmerl.php?vnr=12\">Mannschaften</a><hr>\r"
        "<b>Geschossene Ergebnisse</b><br>\r"
        "<table border=\"0\" >  <tr>    <td width=\"250\"><b>Scheiben</b></td>    <td width=\"50\" align=\"right\">"
        "<b>Ring</b></td><td width=\"50\" align=\"right\"><b>Teiler</b></td></tr>\r"
        // Luftgewehr 40 by pos: target 100 (all Teiler 0), then 101 (best 987).
        "<tr><td><a href=\"sb.php?ST=1017&sb=LG1&bz=1&sid=100\">Luftgewehr 40</a></td>\r<td align=\"right\">100,0</td>\r"
        "<td align=\"right\">10000,0</td>\r<td><a href=\"sb.php?ST=1017&sb=LG1&bz=1&sid=100\"> <img border=\"0\" "
        "src=\"scheibe2.png\" alt=\"Schussbild\"></a></td></tr>\r\r"
        "<tr><td><a href=\"sb.php?ST=1017&sb=LG1&bz=1&sid=101\">Luftgewehr 40</a></td>\r<td align=\"right\">95,3</td>\r"
        "<td align=\"right\">9,9</td>\r<td><a href=\"sb.php?ST=1017&sb=LG1&bz=1&sid=101\"> <img border=\"0\" "
        "src=\"scheibe2.png\" alt=\"Schussbild\"></a></td></tr>\r\r"
        "<tr><td><a href=\"sb.php?ST=1017&sb=LG1&bz=2&sid=102\">Luftpistole</a></td>\r<td align=\"right\">88,0</td>\r"
        "<td align=\"right\">--</td>\r<td><a href=\"sb.php?ST=1017&sb=LG1&bz=2&sid=102\"> <img border=\"0\" "
        "src=\"scheibe2.png\" alt=\"Schussbild\"></a></td></tr>\r\r"
        "</table><table border=0><tr><th><p align=\"left\">Wettbewerb</p> </th><th>Rang </th>.<th>Erg</th><th> </th></tr>"
        // Team ranks by rank: list 9 (rank 2, hidden lists count here), then list 6 (rank 4).
        "<tr><td><a href=\"merl.php?startnr=1017&titel=9&Rang=2\">Mannschaft LP</a></td><td>Mann</td>"
        "<td><p align=\"right\"><b>360,0 Ringe</b></p></td><td><p align=\"right\"></p></td><td><p align=\"right\"></p></td>"
        "<td><p align=\"right\"></p></td><td><p align=\"right\"></p></td><td><a href=\"merl.php?startnr=1017&titel=9&Rang=2\">"
        "<img border=\"0\" src=\"liste.gif\" alt=\"Rangliste\"></a><a href=\"mmerl.php?vnr=12&wettbid=9\"><img border=\"0\" "
        "src=\"Drucker.gif\" alt=\"Nur Dein Verein\"></a></td></tr>"
        "<tr><td><a href=\"merl.php?startnr=1017&titel=6&Rang=4\">Mannschaft LG</a></td><td>Mann</td>"
        "<td><p align=\"right\"><b>1180,5 Ringe</b></p></td><td><p align=\"right\"></p></td><td><p align=\"right\"></p></td>"
        "<td><p align=\"right\">10,3</p></td><td><p align=\"right\">0,1</p></td><td><a href=\"merl.php?startnr=1017&titel=6&Rang=4\">"
        "<img border=\"0\" src=\"liste.gif\" alt=\"Rangliste\"></a><a href=\"mmerl.php?vnr=12&wettbid=6\"><img border=\"0\" "
        "src=\"Drucker.gif\" alt=\"Nur Dein Verein\"></a></td></tr>"
        // Single ranks by rank; list 7 (selekt 1) is left out, list 8 (selekt 2) shown.
        "<tr><td><a href=\"erl.php.php?startnr=1017&titel=8&Rang=1\">Finale</a></td><td>1</td>\r"
        "<td><p align=\"right\"><b>398,0 Ringe</b></p></td>\r<td><p align=\"right\"></p></td>\r<td><p align=\"right\"></p></td>\r"
        "<td><p align=\"right\"></p></td>\r<td><p align=\"right\"></p></td>\r"
        "<td><a href=\"erl.php.php?startnr=1017&titel=8&Rang=1\"><img border=\"0\" src=\"liste.gif\" alt=\"Rangliste\"></a>\r"
        "</td></tr>"
        "<tr><td><a href=\"erl.php.php?startnr=1017&titel=5&Rang=3\">Einzel LG</a></td><td>3</td>\r"
        "<td><p align=\"right\"><b>395,3 Ringe</b></p></td>\r<td><p align=\"right\"></p></td>\r<td><p align=\"right\"></p></td>\r"
        "<td><p align=\"right\">9999,9</p></td>\r<td><p align=\"right\"></p></td>\r"
        "<td><a href=\"erl.php.php?startnr=1017&titel=5&Rang=3\"><img border=\"0\" src=\"liste.gif\" alt=\"Rangliste\"></a>\r"
        "</td></tr>"
        "</table> ";
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1017"), expected);

    // Through the dispatcher the fragment is framed, also for a path that only contains the name.
    for (const char* path : {"/est.php", "/EST.PHP", "/test.php"}) {
        const auto r = ringolan::server::DispatchPage(ctx, path, "ST=1017");
        EXPECT_EQ(r.status, 200) << path;
        EXPECT_EQ(r.body, kHead + expected + kFoot) << path;
    }

    // The team mate sees the team list with his own rank row and no target of the other shooter.
    const std::string weber = ringolan::pages::est_page(ctx, "ST=1018");
    EXPECT_EQ(weber, head("Weber", "Jan", "12", "SV Tell \xD6hringen") + target("1018", "1", "103", "Luftgewehr 40", "90,0", "1,0") +
                         kRankHead + single_row("1018", {"5", "1", "Einzel LG", "399,0", "Ringe", {"", "", "", ""}}) + kEnd);
}

TEST(EstPage, ShooterWithoutTargetsAndRanksGivesTheHeadsAlone) {
    PageContext ctx = context("bare.mdb", base());
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1019"),
              head("Kern", "Ute", "13", "SG <b>Linde</b> & Co") + kRankHead + kEnd);
}

TEST(EstPage, UnknownStartNumberOrClubGivesEmptyNames) {
    C c = base();
    c.results = {{1, 1020, 5}};
    c.targets = {{200, 1, 1, 50.5, teiler({int64_t{4321}})}};
    PageContext ctx = context("unknown.mdb", c);
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=4711"), head("", "", "", "") + kRankHead + kEnd);
    // The shooter's club has no row: the join finds no shooter, the targets are shown anyway.
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1020"),
              head("", "", "", "") + target("1020", "5", "200", "Zimmerstutzen", "50,5", "43,2") + kRankHead + kEnd);
}

// ---- Targets ----

TEST(EstPage, BestTeilerIsTheSmallestPositiveOfFifteen) {
    C c = base();
    c.results = {{1, 1017, 1}};
    const int64_t z = 0;
    c.targets = {
        {1, 1, 1, 10.0, teiler({Null{}, z, int64_t{500}, int64_t{250}, int64_t{-7}, z, z, z, z, z, z, z, z, z, int64_t{120}})},
        {2, 1, 2, 10.0, teiler({Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{},
                                Null{}, Null{}, Null{}, int64_t{77}})},
        {3, 1, 3, 10.0, teiler({})},                           // all empty
        {4, 1, 4, 10.0, teiler({int64_t{2000000}, int64_t{-3}})},  // nothing below the start value
        {5, 1, 5, 10.0, teiler({int64_t{999999}})},
        {6, 1, 6, 10.0, teiler({int64_t{5}})},
    };
    PageContext ctx = context("teiler.mdb", c);
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1017"),
              head("M\xFCller", "Anna", "12", "SV Tell \xD6hringen") + target("1017", "1", "1", "Luftgewehr 40", "10,0", "1,2") +
                  target("1017", "1", "2", "Luftgewehr 40", "10,0", "0,8") +
                  target("1017", "1", "3", "Luftgewehr 40", "10,0", "10000,0") +
                  target("1017", "1", "4", "Luftgewehr 40", "10,0", "10000,0") +
                  target("1017", "1", "5", "Luftgewehr 40", "10,0", "10000,0") +
                  target("1017", "1", "6", "Luftgewehr 40", "10,0", "0,1") + kRankHead + kEnd);
}

TEST(EstPage, TeilermessungHidesRingOrTeilerOnlyWhenExactlyBlattlOrRing) {
    C c = base();
    c.results = {{1, 1017, 1}, {2, 1017, 2}, {3, 1017, 3}, {4, 1017, 4}, {5, 1017, 5}};
    for (int64_t i = 1; i <= 5; ++i) c.targets.push_back({10 + i, i, 1, 97.5, teiler({int64_t{1555}})});
    PageContext ctx = context("messung.mdb", c);
    // Sorted by name: Auflage Blattl, Kleinkaliber, Luftgewehr 40, Luftpistole, Zimmerstutzen.
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1017"),
              head("M\xFCller", "Anna", "12", "SV Tell \xD6hringen") +
                  target("1017", "3", "13", "Auflage Blattl", "--", "15,6") +     // "Blattl"
                  target("1017", "4", "14", "Kleinkaliber", "97,5", "15,6") +     // "blattl" is not "Blattl"
                  target("1017", "1", "11", "Luftgewehr 40", "97,5", "15,6") +    // empty
                  target("1017", "2", "12", "Luftpistole", "97,5", "--") +        // "Ring"
                  target("1017", "5", "15", "Zimmerstutzen", "97,5", "15,6") +    // NULL
                  kRankHead + kEnd);
}

TEST(EstPage, RingTotalsInOneDecimalForm) {
    C c = base();
    c.results = {{1, 1017, 1}};
    const std::vector<std::pair<double, std::string>> cases = {
        {95.25, "95,3"}, {100.04, "100,0"}, {0.0, "0,0"}, {109.0, "109,0"}, {-0.25, "-0,3"}, {10.05, "10,1"}};
    // 10.05 lies just above 10.05 as a double (10.050000000000000711), so it rounds up.
    std::string rows;
    for (size_t i = 0; i < cases.size(); ++i) {
        c.targets.push_back({int64_t(i + 1), 1, int64_t(i + 1), cases[i].first, teiler({int64_t{100}})});
        rows += target("1017", "1", std::to_string(i + 1), "Luftgewehr 40", cases[i].second, "1,0");
    }
    c.targets.push_back({99, 1, 99, Null{}, teiler({int64_t{100}})});
    rows += target("1017", "1", "99", "Luftgewehr 40", "0,0", "1,0");
    PageContext ctx = context("summe.mdb", c);
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1017"),
              head("M\xFCller", "Anna", "12", "SV Tell \xD6hringen") + rows + kRankHead + kEnd);
}

// ---- Ranks ----

TEST(EstPage, SecondaryResultsShowOnlyBetweenOneTenthAndTenThousand) {
    C c = base();
    c.lists = {{1, "A", false, Null{}}, {2, "B", false, Null{}}, {3, "C", false, int64_t{0}}};
    c.ranks = {
        {1, 1018, int64_t{1}, "R", {0.0, 0.1, 10000.0, 0.0, -5.0}},
        {2, 1018, int64_t{2}, "T", {Null{}, 9999.9, 0.1000001, 9999.94, 9999.96}},
        {3, 1018, int64_t{3}, "", {-1.25, 50.0, 0.15, Null{}, 1.0}},
    };
    PageContext ctx = context("erange.mdb", c);
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1018"),
              head("Weber", "Jan", "12", "SV Tell \xD6hringen") + kRankHead +
                  single_row("1018", {"1", "1", "A", "0,0", "R", {"", "", "", ""}}) +
                  // 9999.96 rounds to 10000,0 but lies below 10000, so it is shown.
                  single_row("1018", {"2", "2", "B", "0,0", "T", {"9999,9", "0,1", "9999,9", "10000,0"}}) +
                  // 0.15 is stored as 0.1499999999999999944...: one decimal gives 0,1.
                  single_row("1018", {"3", "3", "C", "-1,3", "", {"50,0", "0,1", "", "1,0"}}) + kEnd);
}

TEST(EstPage, TeamRowsNeedMembershipAndSingleRowsSkipTeamAndHiddenLists) {
    C c = base();
    c.lists = {{1, "Team offen", true, Null{}}, {2, "Einzel", false, Null{}}, {3, "Einzel versteckt", false, int64_t{1}},
               {4, "Team ohne Mitglied", true, Null{}}};
    c.teams = {{10, 1, "12", "Tell I"}, {11, 4, "12", "Tell II"}};
    c.members = {{10, 1017}, {11, 1018}};
    c.ranks = {
        {1, 1017, int64_t{7}, "Ringe", {300.0, Null{}, Null{}, Null{}, Null{}}},
        {2, 1017, int64_t{5}, "Ringe", {290.0, Null{}, Null{}, Null{}, Null{}}},
        {3, 1017, int64_t{1}, "Ringe", {310.0, Null{}, Null{}, Null{}, Null{}}},
        {4, 1017, int64_t{2}, "Ringe", {305.0, Null{}, Null{}, Null{}, Null{}}},  // 1017 is in no team of list 4
    };
    PageContext ctx = context("teams.mdb", c);
    const std::vector<std::string> none = {"", "", "", ""};
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1017"),
              head("M\xFCller", "Anna", "12", "SV Tell \xD6hringen") + kRankHead +
                  team_row("1017", {"1", "7", "Team offen", "300,0", "Ringe", none}, "12") +
                  single_row("1017", {"2", "5", "Einzel", "290,0", "Ringe", none}) + kEnd);
}

TEST(EstPage, TeamLinkCarriesTheShootersClubNotTheTeamsClub) {
    C c = base();
    c.lists = {{1, "Gemischt", true, Null{}}};
    c.teams = {{10, 1, "13", "Linde gemischt"}};
    c.members = {{10, 1017}};
    c.ranks = {{1, 1017, int64_t{3}, "", {1.0, 2.0, 3.0, 4.0, 5.0}}};
    PageContext ctx = context("mixed.mdb", c);
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1017"),
              head("M\xFCller", "Anna", "12", "SV Tell \xD6hringen") + kRankHead +
                  team_row("1017", {"1", "3", "Gemischt", "1,0", "", {"2,0", "3,0", "4,0", "5,0"}}, "12") + kEnd);
}

// ---- Start number ----

TEST(EstPage, StartNumberIsTheTextAfterTheFirstEqualsSign) {
    PageContext ctx = context("param.mdb", base());
    const std::string bare = head("Kern", "Ute", "13", "SG <b>Linde</b> & Co") + kRankHead + kEnd;
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST=1019"), bare);
    EXPECT_EQ(ringolan::pages::est_page(ctx, "x=1019"), bare);
    EXPECT_EQ(ringolan::pages::est_page(ctx, "1019"), bare);   // no "=": the query itself
    EXPECT_EQ(ringolan::pages::est_page(ctx, "=1019"), bare);
    // Only 20 characters are taken: 21 digits lose their last one.
    C c = base();
    c.results = {{1, 1, 1}};
    c.starters.push_back({1, "Eins", "Erster", "12"});
    c.targets = {{5, 1, 1, 9.0, teiler({int64_t{100}})}};
    PageContext ctx2 = context("param20.mdb", c);
    EXPECT_EQ(ringolan::pages::est_page(ctx2, "ST=000000000000000000017"),
              head("Eins", "Erster", "12", "SV Tell \xD6hringen") +
                  target("00000000000000000001", "1", "5", "Luftgewehr 40", "9,0", "1,0") + kRankHead + kEnd);
}

void expect_input_error(PageContext& ctx, const std::string& query) {
    try {
        const std::string page = ringolan::pages::est_page(ctx, query);
        ADD_FAILURE() << "no error for " << query;
    } catch (const ringolan::pages::InputError& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("Startnummer"), std::string::npos) << m;
        for (const char* sql : {"SELECT", "select", "Startnr", "WHERE", "starter"})
            EXPECT_EQ(m.find(sql), std::string::npos) << "SQL text in: " << m;
        for (char c : {'<', '>', '"', '\''}) EXPECT_EQ(m.find(c), std::string::npos) << "unescaped in: " << m;
    }
}

TEST(EstPage, StartNumbersThatAreNotWholeNumbersAreRejectedWithoutSql) {
    PageContext ctx = context("hostile.mdb", base());
    for (const char* q : {"ST=", "", "ST=abc", "ST=12a", "ST=1 or 1=1", "ST=1017&x=1", "ST=1017;", "ST=\"><script>x</script>",
                          "ST=1'--", "ST=1.5", "ST=-", "ST=0x10", "ST=99999999999999999999"})
        expect_input_error(ctx, q);
    // The message quotes the value escaped.
    try {
        ringolan::pages::est_page(ctx, "ST=<script>");
        ADD_FAILURE() << "no error";
    } catch (const ringolan::pages::InputError& e) {
        EXPECT_NE(std::string(e.what()).find("&lt;script&gt;"), std::string::npos) << e.what();
    }
    // The dispatcher lets the error through to the answer.
    EXPECT_THROW(ringolan::server::DispatchPage(ctx, "/est.php", "ST=abc"), ringolan::pages::InputError);
}

TEST(EstPage, BlanksAndSignAroundTheNumberAreEchoedAsGiven) {
    C c = base();
    c.results = {{1, 1017, 1}};
    c.targets = {{5, 1, 1, 9.0, teiler({int64_t{100}})}};
    PageContext ctx = context("blanks.mdb", c);
    EXPECT_EQ(ringolan::pages::est_page(ctx, "ST= +1017 "),
              head("M\xFCller", "Anna", "12", "SV Tell \xD6hringen") +
                  target(" +1017 ", "1", "5", "Luftgewehr 40", "9,0", "1,0") + kRankHead + kEnd);
}

TEST(EstPage, WithoutADatabaseFailsWithAMessage) {
    PageContext ctx;
    try {
        ringolan::pages::est_page(ctx, "ST=1");
        FAIL() << "no error";
    } catch (const ringolan::db::QueryError& e) {
        EXPECT_EQ(std::string(e.what()), "Keine Wettkampfdatenbank ge\xF6" "ffnet");
    }
}

}  // namespace
