// erl.php on small files: whole pages typed from the page's pieces, both result modes, the
// value rule, highlighting and parameter handling.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "db/query/query.h"
#include "pages/erlphp.h"
#include "pages/params.h"
#include "server/dispatcher.h"
#include "tests/pages/competition_fixture.h"
#include "tests/server/page_literals.h"

namespace {

using namespace ringolan::test_pages;
using ringolan::pages::InputError;
using ringolan::pages::result_cell;
using ringolan::server::DispatchPage;
using V = ringolan::jet::Value;

const V kNull = ringolan::jet::Null{};
const std::string kWhite = " bgcolor=\"#FFFFFF\"";

std::string heading(const std::string& title) {
    return "<font size=\"5\">" + title +
           "</font><hr><table border=0><tr><th>Rang</th><th>St.Nr</th><th>Name </th>"
           "<th>Verein</th><th>Ergebnis</th><th> </th></tr>\r";
}

struct Row {
    std::string rang, nr, name, club_nr, club, unit;
    std::array<std::string, 7> cells;
};

// One table row; `five` adds the cells 2 to 6 (unit "R").
std::string row(const Row& r, bool highlighted, bool five) {
    const std::string h = highlighted ? kWhite : "";
    std::string s = "<tr><td" + h + ">" + r.rang + "</td>" + "<td" + h + "><font size=2>" + r.nr + "</font></td>" +
                    "<td" + h + "><a href = \"est.php?ST=" + r.nr + "\" > " + r.name + " </a></td>" + "<td" + h +
                    "><a href = \"vst.php?NR=" + r.club_nr + "\" > " + r.club + "</a></td >" + "<td" + h +
                    "><p align = \"right\"><b>" + r.cells[0] + " " + r.unit + "</b></p></td>" + "<td" + h +
                    "><p align=\"right\" ><fontsize=2>" + r.cells[1] + "</p></font></td> ";
    if (five) {
        for (size_t c = 2; c <= 6; ++c)
            s += r.cells[c].empty() ? "<td></td>" : "<td" + h + "><p align=\"right\"><font size=2>" + r.cells[c] + "</font></p></td>";
    }
    return s + " </tr>\r";
}

TEST(ErlCells, OnlyValuesAboveZeroUpTo10000AreShown) {
    EXPECT_EQ(result_cell(0), "");
    EXPECT_EQ(result_cell(-0.04), "");
    EXPECT_EQ(result_cell(-12), "");
    EXPECT_EQ(result_cell(0.04), "0,0");
    EXPECT_EQ(result_cell(95.25), "95,3");
    EXPECT_EQ(result_cell(380), "380,0");
    EXPECT_EQ(result_cell(10000), "10000,0");
    EXPECT_EQ(result_cell(10000.05), "");
    EXPECT_EQ(result_cell(1e300), "");
}

class ErlPage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CompetitionFile f;
        f.club("01207", std::string("SV Tell Oberndorf"));
        f.club("3", std::string("SG Hubertus Ödenwald"));
        f.club("9", std::string("Schützen & <Freunde>"));
        f.shooter(345, std::string("Müller"), std::string("Anna"), "01207");
        f.shooter(346, std::string("Meier"), std::string("Hans"), "3");
        f.shooter(347, std::string("Zorn"), kNull, "9");
        f.shooter(348, std::string("Gast"), std::string("Ohne"), "777");  // no club: not listed
        f.list(12, std::string("Kreismeisterschaft Luftgewehr"), std::string("ring"));
        f.list(13, std::string("Königsscheibe"), std::string("blattl/ring"));
        f.list(14, std::string("LG Auflage"), std::string("ring/blattl"));
        f.list(15, std::string("Leer"), std::string("ring"));
        f.list(16, std::string("Ohne Regel"), kNull);
        f.list(17, std::string("Gross"), std::string("Ring/Blattl"));
        f.list(18, kNull, std::string("ring"));
        // List 12, part results, rows written out of rank order.
        f.rank(12, 347, 3, 50.0, std::string("r"), {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0});
        f.rank(12, 345, 1, 999.0, std::string("R"), {380.4, 12.0, 95.25, 96.0, 10000.0, 10000.05, 0.0});
        f.rank(12, 348, 4, 1.0, std::string("R"), {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0});
        f.rank(12, 346, 2, 0.0, std::string("R"), {kNull, -1.0, 0.04, 7.0, kNull, 10000.0, 10000.05});
        // Main results.
        f.rank(13, 345, 2, 25.5, std::string("T"), {25.5, 300.0, 10.0, 10.0, 10.0, 10.0, 10.0});
        f.rank(13, 346, 1, 10000.05, std::string("T"), {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0});
        f.rank(14, 346, 1, 98.25, std::string("R"), {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0});
        f.rank(14, 345, 2, kNull, std::string("R"), {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0});
        f.rank(16, 345, 1, 5.0, kNull, {11.0, 22.0, 33.0, kNull, kNull, kNull, kNull});
        f.rank(17, 345, 1, 5.0, std::string("T"), {11.0, 22.0, 33.0, kNull, kNull, kNull, kNull});
        ctx_ = new ringolan::pages::PageContext;
        ctx_->snapshot = f.snapshot("erl.mdb");
    }
    static void TearDownTestSuite() { delete ctx_; }

    static std::string page(const std::string& query) {
        const auto r = DispatchPage(*ctx_, "/erl.php", query);
        EXPECT_EQ(r.status, 200);
        EXPECT_TRUE(r.body.starts_with(kHead) && r.body.ends_with(kFoot));
        return r.body.substr(kHead.size(), r.body.size() - kHead.size() - kFoot.size());
    }
    static std::string input_error(const std::string& query) {
        try {
            DispatchPage(*ctx_, "/erl.php", query);
        } catch (const InputError& e) {
            return e.what();
        }
        return {};
    }

    static ringolan::pages::PageContext* ctx_;
};
ringolan::pages::PageContext* ErlPage::ctx_ = nullptr;

const Row kAnna12 = {"1", "345", "M\xFCller, Anna", "01207", "SV Tell Oberndorf", "R",
                     {"380,4", "12,0", "95,3", "96,0", "10000,0", "", ""}};
const Row kHans12 = {"2", "346", "Meier, Hans", "3", "SG Hubertus \xD6" "denwald", "R",
                     {"", "", "0,0", "7,0", "", "10000,0", ""}};
const Row kZorn12 = {"3", "347", "Zorn, ", "9", "Sch\xFCtzen & <Freunde>", "r",
                     {"1,0", "2,0", "3,0", "4,0", "5,0", "6,0", "7,0"}};

TEST_F(ErlPage, PartResultsInRankOrderWithoutHighlight) {
    EXPECT_EQ(page("startnr=0&titel=12&Rang=0"), heading("Kreismeisterschaft Luftgewehr") + row(kAnna12, false, true) +
                                                     row(kHans12, false, true) + row(kZorn12, false, false) +
                                                     "</table>");
}

TEST_F(ErlPage, HighlightsTheRowsOfTheStartNumberAsText) {
    EXPECT_EQ(page("startnr=346&titel=12&Rang=2"), heading("Kreismeisterschaft Luftgewehr") +
                                                       row(kAnna12, false, true) + row(kHans12, true, true) +
                                                       row(kZorn12, false, false) + "</table>");
    // Compared as text: "0346" and " 346" are not "346"; the value is cut at its "&".
    const std::string plain = page("startnr=0&titel=12&Rang=0");
    EXPECT_EQ(page("startnr=0346&titel=12&"), plain);
    EXPECT_EQ(page("startnr= 346&titel=12&"), plain);
    EXPECT_EQ(page("titel=12&startnr=346"), plain);  // last parameter: no "&" behind it, empty
}

TEST_F(ErlPage, MainResultModeShowsOnlyTheMainResult) {
    const Row hans = {"1", "346", "Meier, Hans", "3", "SG Hubertus \xD6" "denwald", "T", {}};  // 10000.05: empty
    const Row anna = {"2", "345", "M\xFCller, Anna", "01207", "SV Tell Oberndorf", "T", {"25,5"}};
    EXPECT_EQ(page("startnr=345&titel=13&Rang=2"),
              heading("K\xF6nigsscheibe") + row(hans, false, false) + row(anna, true, false) + "</table>");
}

TEST_F(ErlPage, MainResultModeWithUnitRWritesFiveEmptyCells) {
    const Row hans = {"1", "346", "Meier, Hans", "3", "SG Hubertus \xD6" "denwald", "R", {"98,3"}};
    const Row anna = {"2", "345", "M\xFCller, Anna", "01207", "SV Tell Oberndorf", "R", {}};  // NULL
    const std::string expected = heading("LG Auflage") + row(hans, false, true) + row(anna, false, true) + "</table>";
    EXPECT_EQ(page("startnr=0&titel=14&Rang=0"), expected);
    EXPECT_NE(expected.find("</p></font></td> <td></td><td></td><td></td><td></td><td></td> </tr>\r"), std::string::npos);
}

TEST_F(ErlPage, RankingRuleIsMatchedExactly) {
    // NULL and "Ring/Blattl" are part-result mode: cells 0 and 1 from E1 and E2.
    const Row null_rule = {"1", "345", "M\xFCller, Anna", "01207", "SV Tell Oberndorf", "", {"11,0", "22,0"}};
    EXPECT_EQ(page("startnr=0&titel=16&"), heading("Ohne Regel") + row(null_rule, false, false) + "</table>");
    Row upper = null_rule;
    upper.unit = "T";
    EXPECT_EQ(page("startnr=0&titel=17&"), heading("Gross") + row(upper, false, false) + "</table>");
}

TEST_F(ErlPage, EmptyAndUnknownLists) {
    EXPECT_EQ(page("startnr=0&titel=15&Rang=0"), heading("Leer") + "</table>");
    EXPECT_EQ(page("startnr=0&titel=18&Rang=0"), heading("") + "</table>");  // NULL title
    EXPECT_EQ(page("startnr=0&titel=99&Rang=0"), heading("") + "</table>");
    EXPECT_EQ(page("startnr=0&titel=-12&Rang=0"), heading("") + "</table>");
}

TEST_F(ErlPage, ListNumberByKeyOrPosition) {
    const std::string list12 = page("startnr=0&titel=12&Rang=0");
    EXPECT_EQ(page("titel=12&startnr=0&"), list12);
    EXPECT_EQ(page("startnr=0&titel= 12 &"), list12);
    EXPECT_EQ(page("startnr=0&titel=0000000000000000012&"), list12);  // 19 digits and "&" in the 20
    // No "titel=": the 20 characters from the sixth character on.
    EXPECT_EQ(page("abcde12&startnr=0&"), list12);
}

TEST_F(ErlPage, ListNumberThatIsNotOneFailsWithoutSqlOrUnescapedEcho) {
    EXPECT_EQ(input_error("startnr=0&titel=12"), "Ung\xFCltige Listennummer: kein Wert angegeben");
    EXPECT_EQ(input_error("startnr=0&titel=00000000000000000012&"), "Ung\xFCltige Listennummer: kein Wert angegeben");
    EXPECT_EQ(input_error(""), "Ung\xFCltige Listennummer: kein Wert angegeben");
    EXPECT_EQ(input_error("titel=<b>x</b>&"), "Ung\xFCltige Listennummer: \xBB&lt;b&gt;x&lt;/b&gt;\xAB");
    for (const std::string q : {"titel=12 or 1=1&", "titel=12;DROP&", "titel=\"12\"&", "titel=12'&", "titel=1.5&",
                                "titel=12%20&", "titel=ID&"}) {
        const std::string m = input_error(q);
        EXPECT_TRUE(m.starts_with("Ung\xFCltige Listennummer: ")) << q << ": " << m;
        EXPECT_EQ(m.find("SELECT"), std::string::npos) << m;
        EXPECT_EQ(m.find_first_of("<>\"'"), std::string::npos) << m;
    }
    // The start number is only compared, never checked.
    EXPECT_EQ(page("startnr=<x>'\"&titel=15&"), heading("Leer") + "</table>");
}

TEST_F(ErlPage, OnlyThePathWithTheSlashSelectsThePage) {
    const std::string q = "startnr=0&titel=15&";
    EXPECT_EQ(DispatchPage(*ctx_, "/ERL.PHP", q).body, kHead + page(q) + kFoot);
    EXPECT_EQ(DispatchPage(*ctx_, "/x/erl.php", q).status, 200);
    EXPECT_EQ(DispatchPage(*ctx_, "/nerl.php", q).status, 404);
}

}  // namespace

TEST(ErlPageWithoutDatabase, FailsWithAMessage) {
    ringolan::pages::PageContext ctx;
    try {
        DispatchPage(ctx, "/erl.php", "startnr=0&titel=12&");
        FAIL() << "no error";
    } catch (const ringolan::db::QueryError& e) {
        EXPECT_EQ(std::string(e.what()), "Keine Wettkampfdatenbank ge\xF6" "ffnet");
    }
}
