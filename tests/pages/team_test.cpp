// merl.php and mmerl.php on one small competition: whole pages typed from the pages' pieces,
// counting number and grey members, highlight, equal and non-positive team ranks, the club
// and competition choice of mmerl.php and hostile parameters.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>

#include "db/sql/query_error.h"
#include "pages/page_context.h"
#include "server/dispatcher.h"
#include "tests/pages/competition_fixture.h"
#include "tests/server/page_literals.h"

namespace {

using namespace ringolan::test_pages;
using ringolan::pages::InputError;
using ringolan::server::DispatchPage;
using V = ringolan::jet::Value;

const V kNull = ringolan::jet::Null{};
const std::string kNormal = "<font size=\"2\">";
const std::string kGrey = "<font size=\"2\" color=\"#c0c0c0\">";

std::string s(const char* text) { return text; }

// merl.php pieces.
std::string merl_heading(const std::string& title, const std::string& counting) {
    return "<Font size=\"5\">" + title + "</font>    (" + counting + " Starter je Mannschaft)<br>" +
           "<table border=0 width=500><tr><th width=100>Rang</th><th>Name </th><th>Erg</th><th> </th></tr>\r";
}
std::string header(const std::string& rank, const std::string& team, const std::string& result, bool anchor = false) {
    return "<tr> <td><b>" + std::string(anchor ? "<a name=\"Marke\"></a>" : "") + rank + "</b></td><td><b>" + team +
           "</b></td><td><b>" + result + " " + "</b></td></tr>\r" + "<tr><td></td><td><table border=0>";
}
std::string marked_header(const std::string& rank, const std::string& team, const std::string& result) {
    return "<tr><td bgcolor=\"#FFFF99\"><b>" + rank + "</b></td><td bgcolor=\"#FFFF99\"><b>" + team +
           "</b></td><td bgcolor=\"#FFFF99\"><b>" + result + " " + "</b></td></tr>\r" +
           "<tr><td></td><td><table border=0>";
}
const std::string kMerlClose = "</table><td></td></tr>";

struct Member {
    std::string nr, name, result;
};
std::string merl_member(const Member& m, bool grey, bool highlighted = false) {
    const std::string h = highlighted ? "bgcolor=\"#FFFF99\"" : "";
    const std::string& f = grey ? kGrey : kNormal;
    return "<tr><td width=\"100\"" + h + ">  " + f + "<a href=\"est.php?ST=" + m.nr + "\">" + m.nr +
           "</a></font></td>" + "<td width=\"200\" " + h + ">" + f + "<a href=\"est.php?ST=" + m.nr + "\">" + m.name +
           "</a></font></td>" + "<td width=\"30\" " + h + " >" + f + "<p align=\"right\">" + m.result +
           "</p></font></td></tr>\r";
}

// mmerl.php pieces.
const std::string kLinks =
    "<a href=\"vstbl.php\">Meistbeteiligungsliste</a> | <a href=\"vst.php?NR=$vnr\">Starterliste</a><hr>";
std::string club(const std::string& name) { return kLinks + "<Font size=\"5\"><b><u>" + name + "</u></b></font><br>\r"; }
std::string competition(const std::string& title) {
    return "<br><br><Font size=\"5\">" + title +
           " </font><br> <table border=0 width=400><tr><th width=70><u>Rang</u></th><th><u>Name</u></th>" +
           "<th><p align=\"right\"><u>Erg</u></p></th></tr>\r\n";
}
const std::string kMmerlClose = "</table><td></td></tr>\r";
const std::string kCompetitionEnd = "</table></table>";
std::string mmerl_member(const Member& m, bool grey) {
    const std::string& f = grey ? kGrey : kNormal;
    return "<tr><td width=\"100\" align=\"center\"" + s(">  ") + f + "<a href=\"est.php?ST=" + m.nr + "\">" + m.nr +
           "</a></font></td>" + "<td width=\"200\" " + ">" + f + "<a href=\"est.php?ST=" + m.nr + "\">" + m.name +
           "</a></font></td>" + "<td width=\"30\" " + " >" + f + "<p align=\"right\">" + m.result +
           "</p></font></td></tr>\r";
}

// Members with their results in the list they are shown in.
const Member kBerg5 = {"349", "Berg, Otto", "390,0"};
const Member kAnna5 = {"345", "M\xFCller, Anna", "385,3"};  // 385.25
const Member kHans5 = {"346", "Meier, Hans", "380,0"};
const Member kEva5 = {"348", "Abel, Eva", "370,0"};
const Member kZorn5 = {"347", "Zorn, ", "0,0"};  // NULL first name and NULL result
const Member kIda5 = {"350", "Kurz, Ida", "360,0"};
const Member kMax5 = {"351", "Lang, Max", "355,6"};
const Member kUte5 = {"352", "Nolte, Ute", "350,0"};
const Member kJan5 = {"353", "Ost, Jan", "349,0"};
const Member kLea5 = {"361", "Roth, Lea", "340,0"};

class TeamPages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CompetitionFile f;
        f.club("12", s("SV Tell"));
        f.club("7", s("Gilde <&> Nord"));
        f.club("&x", s("Und-Verein"));
        f.club("A1", s("Alpha Sch\u00fctzen"));
        f.shooter(345, s("M\u00fcller"), s("Anna"), "12");
        f.shooter(346, s("Meier"), s("Hans"), "12");
        f.shooter(347, s("Zorn"), kNull, "12");
        f.shooter(348, s("Abel"), s("Eva"), "12");
        f.shooter(349, s("Berg"), s("Otto"), "12");
        f.shooter(350, s("Kurz"), s("Ida"), "7");
        f.shooter(351, s("Lang"), s("Max"), "7");
        f.shooter(352, s("Nolte"), s("Ute"), "7");
        f.shooter(353, s("Ost"), s("Jan"), "7");
        f.shooter(360, s("Ohne"), s("Rang"), "12");
        f.shooter(361, s("Roth"), s("Lea"), "12");
        f.shooter(370, s("Fuchs"), s("Tom"), "&x");
        f.shooter(371, s("Wolf"), s("Kai"), "A1");
        f.shooter(372, s("Hahn"), s("Udo"), "A1");

        const std::array<V, 7> e = {kNull, kNull, kNull, kNull, kNull, kNull, kNull};
        auto rank = [&](int64_t list, int64_t nr, int64_t rang, V result) {
            f.rank(list, nr, rang, std::move(result), s("R"), e);
        };

        // 5: three counting members; equal team ranks; a member without a rank row.
        f.list(5, s("Mannschaft LG"), true, kNull);
        f.option(5, "MANNMODE", int64_t{3});
        f.option(5, "ANDERES", int64_t{9});
        f.team(100, 5, "12", s("SV Tell I"), int64_t{1}, 1145.5);
        f.team(101, 5, "7", s("Gilde I"), int64_t{2}, 1100.04);
        f.team(102, 5, "7", s("Gilde II"), int64_t{2}, 900.0);
        f.team(103, 5, "12", s("SV Tell II"), int64_t{3}, 340.0);
        for (int64_t nr : {345, 346, 347, 348, 349}) f.member(100, nr);
        f.member(101, 350);
        f.member(101, 351);
        f.member(102, 352);
        f.member(102, 353);
        f.member(103, 360);
        f.member(103, 361);
        // Written out of rank order.
        rank(5, 346, 3, 380.0);
        rank(5, 349, 1, 390.0);
        rank(5, 345, 2, 385.25);
        rank(5, 347, 5, kNull);
        rank(5, 348, 4, 370.0);
        rank(5, 353, 9, 349.0);
        rank(5, 350, 6, 360.0);
        rank(5, 352, 8, 350.0);
        rank(5, 351, 7, 355.55);
        rank(5, 361, 10, 340.0);
        rank(20, 360, 1, 300.0);  // a single list only

        // 6: no MANNMODE option (another option only).
        f.list(6, s("Ohne Modus"), true, kNull);
        f.option(6, "ANDERES", int64_t{4});
        f.team(200, 6, "12", s("SV Tell Mix"), int64_t{1}, 0.0);
        f.member(200, 345);
        f.member(200, 346);
        rank(6, 345, 1, 100.0);
        rank(6, 346, 2, 99.75);

        // 7: team ranks -1, 0, 1.
        f.list(7, s("Negativ"), true, kNull);
        f.option(7, "MANNMODE", int64_t{1});
        f.team(300, 7, "7", s("Minus"), int64_t{-1}, 10.0);
        f.team(301, 7, "7", s("Null"), int64_t{0}, 20.0);
        f.team(302, 7, "12", s("Eins"), int64_t{1}, 30.0);
        f.member(300, 350);
        f.member(301, 351);
        f.member(301, 352);
        f.member(302, 345);
        rank(7, 350, 1, 10.0);
        rank(7, 351, 2, 11.0);
        rank(7, 352, 3, 9.0);
        rank(7, 345, 4, 30.0);

        // 8: a team of rank 0 first.
        f.list(8, s("Null zuerst"), true, kNull);
        f.option(8, "MANNMODE", int64_t{1});
        f.team(400, 8, "7", s("Vorn"), int64_t{0}, 5.0);
        f.team(401, 8, "7", s("Hinten"), int64_t{2}, 4.0);
        f.member(400, 353);
        f.member(400, 350);
        f.member(401, 351);
        rank(8, 353, 1, 5.0);
        rank(8, 350, 2, 4.5);
        rank(8, 351, 3, 4.0);

        // 9: no teams.
        f.list(9, s("Leer"), true, int64_t{2});
        f.option(9, "MANNMODE", int64_t{4});

        // 10: two counting members; another club's team.
        f.list(10, s("Mannschaft LP"), true, kNull);
        f.option(10, "MANNMODE", int64_t{2});
        f.team(500, 10, "12", s("SV Tell LP"), int64_t{1}, 200.5);
        f.team(501, 10, "7", s("Gilde LP"), int64_t{2}, 60.0);
        for (int64_t nr : {345, 346, 347}) f.member(500, nr);
        f.member(501, 350);
        rank(10, 347, 1, 70.0);
        rank(10, 345, 2, 66.25);
        rank(10, 346, 3, 64.0);
        rank(10, 350, 4, 60.0);

        // 11: hidden; 12: selekt 0 and members without rank rows.
        f.list(11, s("Versteckt"), true, int64_t{1});
        f.option(11, "MANNMODE", int64_t{3});
        f.team(600, 11, "12", s("Geheim"), int64_t{1}, 1.0);
        f.member(600, 345);
        rank(11, 345, 1, 1.0);
        f.list(12, s("Ohne R\u00e4nge"), true, int64_t{0});
        f.option(12, "MANNMODE", int64_t{3});
        f.team(700, 12, "12", s("Ohne"), int64_t{1}, 0.0);
        f.member(700, 348);

        // 13: the clubs "&x" and "a1" (written in another letter case than in verein).
        f.list(13, s("Und"), true, kNull);
        f.option(13, "MANNMODE", int64_t{3});
        f.team(800, 13, "&x", s("Und I"), int64_t{1}, 50.0);
        f.team(900, 13, "a1", s("Alpha I"), int64_t{2}, 40.0);
        f.member(800, 370);
        f.member(900, 371);
        f.member(900, 372);
        rank(13, 370, 1, 50.0);
        rank(13, 371, 2, 40.0);
        rank(13, 372, 3, 30.0);

        f.list(20, s("Einzel LG"), false, kNull);
        rank(20, 345, 2, 290.0);

        ctx_ = new ringolan::pages::PageContext;
        ctx_->snapshot = f.snapshot("teams.mdb");
    }
    static void TearDownTestSuite() { delete ctx_; }

    static std::string page(const std::string& path, const std::string& query) {
        const auto r = DispatchPage(*ctx_, path, query);
        EXPECT_EQ(r.status, 200) << path << "?" << query;
        if (!r.body.starts_with(kHead) || !r.body.ends_with(kFoot)) {
            ADD_FAILURE() << "not framed: " << path << "?" << query;
            return {};
        }
        return r.body.substr(kHead.size(), r.body.size() - kHead.size() - kFoot.size());
    }
    static std::string merl(const std::string& query) { return page("/merl.php", query); }
    static std::string mmerl(const std::string& query) { return page("/mmerl.php", query); }
    static std::string input_error(const std::string& path, const std::string& query) {
        try {
            DispatchPage(*ctx_, path, query);
        } catch (const InputError& e) {
            return e.what();
        }
        return {};
    }

    static ringolan::pages::PageContext* ctx_;
};
ringolan::pages::PageContext* TeamPages::ctx_ = nullptr;

// --- merl.php ---

TEST_F(TeamPages, MerlShowsTeamsByRankWithGreyMembersBeyondTheCountingNumberAndTheHighlight) {
    const std::string expected =
        merl_heading("Mannschaft LG", "3") + header("1", "SV Tell I", "1145,5") + merl_member(kBerg5, false) +
        merl_member(kAnna5, false, true) + merl_member(kHans5, false) + merl_member(kEva5, true) +
        merl_member(kZorn5, true) + kMerlClose +
        // Equal team ranks: one header (the first row's team) and the counter runs on.
        header("2", "Gilde I", "1100,0") + merl_member(kIda5, false) + merl_member(kMax5, false) +
        merl_member(kUte5, false) + merl_member(kJan5, true) + kMerlClose + header("3", "SV Tell II", "340,0") +
        merl_member(kLea5, false) + "</table>";
    EXPECT_EQ(merl("startnr=345&titel=5&Rang=2"), expected);
}

TEST_F(TeamPages, MerlHighlightComparesTheStartNumberAsText) {
    const std::string none = merl("startnr=0&titel=10&Rang=0");
    const Member wolf = {"347", "Zorn, ", "70,0"}, anna = {"345", "M\xFCller, Anna", "66,3"},
                 hans = {"346", "Meier, Hans", "64,0"}, ida = {"350", "Kurz, Ida", "60,0"};
    EXPECT_EQ(none, merl_heading("Mannschaft LP", "2") + header("1", "SV Tell LP", "200,5") +
                        merl_member(wolf, false) + merl_member(anna, false) + merl_member(hans, true) + kMerlClose +
                        header("2", "Gilde LP", "60,0") + merl_member(ida, false) + "</table>");
    // A grey member keeps the grey font when highlighted.
    EXPECT_EQ(merl("startnr=346&titel=10&Rang=0"),
              merl_heading("Mannschaft LP", "2") + header("1", "SV Tell LP", "200,5") + merl_member(wolf, false) +
                  merl_member(anna, false) + merl_member(hans, true, true) + kMerlClose +
                  header("2", "Gilde LP", "60,0") + merl_member(ida, false) + "</table>");
    EXPECT_EQ(merl("startnr=0346&titel=10&"), none);
    EXPECT_EQ(merl("startnr=346 &titel=10&"), none);
    EXPECT_EQ(merl("titel=10&startnr=346"), none);  // last parameter without "&": empty
    EXPECT_EQ(merl("startnr=<b>&titel=10&"), none);  // only compared, never echoed
}

TEST_F(TeamPages, MerlWithoutCountingOptionHasEmptyTitleAndAllMembersGrey) {
    const Member anna = {"345", "M\xFCller, Anna", "100,0"}, hans = {"346", "Meier, Hans", "99,8"};
    EXPECT_EQ(merl("startnr=0&titel=6&Rang=0"), merl_heading("", "0") + header("1", "SV Tell Mix", "0,0") +
                                                    merl_member(anna, true) + merl_member(hans, true) + "</table>");
}

TEST_F(TeamPages, MerlNonPositiveRanksFollowTheMarkedRankRules) {
    // -1: anchor; 0 after -1: marked header; no closing before either or before rank 1.
    EXPECT_EQ(merl("startnr=0&titel=7&Rang=0"),
              merl_heading("Negativ", "1") + header("-1", "Minus", "10,0", true) +
                  merl_member({"350", "Kurz, Ida", "10,0"}, false) + marked_header("0", "Null", "20,0") +
                  merl_member({"351", "Lang, Max", "11,0"}, false) + merl_member({"352", "Nolte, Ute", "9,0"}, true) +
                  header("1", "Eins", "30,0") + merl_member({"345", "M\xFCller, Anna", "30,0"}, false) + "</table>");
    // Rank 0 first: no header, members right after the table head.
    EXPECT_EQ(merl("startnr=0&titel=8&Rang=0"),
              merl_heading("Null zuerst", "1") + merl_member({"353", "Ost, Jan", "5,0"}, false) +
                  merl_member({"350", "Kurz, Ida", "4,5"}, true) + header("2", "Hinten", "4,0") +
                  merl_member({"351", "Lang, Max", "4,0"}, false) + "</table>");
}

TEST_F(TeamPages, MerlEmptyUnknownAndHiddenCompetitions) {
    EXPECT_EQ(merl("startnr=0&titel=9&Rang=0"), merl_heading("Leer", "4") + "</table>");
    EXPECT_EQ(merl("startnr=0&titel=99&Rang=0"), merl_heading("", "0") + "</table>");
    // Members without a rank row in the list are left out.
    EXPECT_EQ(merl("startnr=0&titel=12&Rang=0"), merl_heading("Ohne R\xE4nge", "3") + "</table>");
    // merl.php itself does not look at selekt.
    EXPECT_EQ(merl("startnr=0&titel=11&Rang=0"), merl_heading("Versteckt", "3") + header("1", "Geheim", "1,0") +
                                                     merl_member({"345", "M\xFCller, Anna", "1,0"}, false) +
                                                     "</table>");
}

TEST_F(TeamPages, MerlCompetitionNumberByKeyOrPosition) {
    const std::string nine = merl_heading("Leer", "4") + "</table>";
    EXPECT_EQ(merl("titel=9&startnr=0&"), nine);
    EXPECT_EQ(merl("startnr=0&titel= 9 &Rang=0"), nine);
    EXPECT_EQ(merl("abcde9&"), nine);  // no "titel=": from the sixth character on
}

TEST_F(TeamPages, MerlCompetitionNumberThatIsNotOneFailsWithoutSqlOrUnescapedEcho) {
    EXPECT_EQ(input_error("/merl.php", "startnr=0&titel=5"), "Ung\xFCltige Wettbewerbsnummer: kein Wert angegeben");
    EXPECT_EQ(input_error("/merl.php", ""), "Ung\xFCltige Wettbewerbsnummer: kein Wert angegeben");
    EXPECT_EQ(input_error("/merl.php", "titel=<i>&"), "Ung\xFCltige Wettbewerbsnummer: \xBB&lt;i&gt;\xAB");
    for (const std::string q : {"titel=5 or 1=1&", "titel=5;DROP&", "titel=\"5\"&", "titel=1.5&", "titel=ID&"}) {
        const std::string m = input_error("/merl.php", q);
        EXPECT_TRUE(m.starts_with("Ung\xFCltige Wettbewerbsnummer: ")) << q << ": " << m;
        EXPECT_EQ(m.find("SELECT"), std::string::npos) << m;
        EXPECT_EQ(m.find_first_of("<>\"'"), std::string::npos) << m;
    }
}

// --- mmerl.php ---

const std::string kTell5 = competition("Mannschaft LG") + header("1", "SV Tell I", "1145,5") +
                           mmerl_member(kBerg5, false) + mmerl_member(kAnna5, false) + mmerl_member(kHans5, false) +
                           mmerl_member(kEva5, true) + mmerl_member(kZorn5, true) + kMmerlClose +
                           header("3", "SV Tell II", "340,0") + mmerl_member(kLea5, false) + kCompetitionEnd;
const std::string kTell6 = competition("Ohne Modus") + header("1", "SV Tell Mix", "0,0") +
                           mmerl_member({"345", "M\xFCller, Anna", "100,0"}, true) +
                           mmerl_member({"346", "Meier, Hans", "99,8"}, true) + kCompetitionEnd;
const std::string kTell7 = competition("Negativ") + header("1", "Eins", "30,0") +
                           mmerl_member({"345", "M\xFCller, Anna", "30,0"}, false) + kCompetitionEnd;
const std::string kTell10 = competition("Mannschaft LP") + header("1", "SV Tell LP", "200,5") +
                            mmerl_member({"347", "Zorn, ", "70,0"}, false) +
                            mmerl_member({"345", "M\xFCller, Anna", "66,3"}, false) +
                            mmerl_member({"346", "Meier, Hans", "64,0"}, true) + kCompetitionEnd;
const std::string kTell12 = competition("Ohne R\xE4nge") + kCompetitionEnd;

TEST_F(TeamPages, MmerlShowsEveryShownTeamCompetitionOfTheClubInIdOrder) {
    const std::string all = club("SV Tell") + kTell5 + kTell6 + kTell7 + kTell10 + kTell12 + "</table>";
    EXPECT_EQ(mmerl("vnr=12"), all);
    EXPECT_EQ(mmerl("vnr=12&wettbid=0"), all);
    EXPECT_EQ(mmerl("wettbid=0&vnr=12"), all);
}

TEST_F(TeamPages, MmerlShowsOneCompetitionWhenAsked) {
    EXPECT_EQ(mmerl("vnr=12&wettbid=10"), club("SV Tell") + kTell10 + "</table>");
    EXPECT_EQ(mmerl("wettbid=5&vnr=12&x=1"), club("SV Tell") + kTell5 + "</table>");
    // Hidden, without the club's teams, unknown, or "00" (not the text "0"): no competition.
    for (const std::string q : {"vnr=12&wettbid=11", "vnr=12&wettbid=8", "vnr=12&wettbid=99", "vnr=12&wettbid=00&"})
        EXPECT_EQ(mmerl(q), club("SV Tell") + "</table>") << q;
}

TEST_F(TeamPages, MmerlRankZeroFirstAndOtherClubs) {
    EXPECT_EQ(mmerl("vnr=7&wettbid=8"), club("Gilde <&> Nord") + competition("Null zuerst") +
                                            mmerl_member({"353", "Ost, Jan", "5,0"}, false) +
                                            mmerl_member({"350", "Kurz, Ida", "4,5"}, true) +
                                            header("2", "Hinten", "4,0") +
                                            mmerl_member({"351", "Lang, Max", "4,0"}, false) + kCompetitionEnd +
                                            "</table>");
    // Equal ranks of two teams of one club share a header, as on merl.php.
    EXPECT_EQ(mmerl("vnr=7&wettbid=5"), club("Gilde <&> Nord") + competition("Mannschaft LG") +
                                            header("2", "Gilde I", "1100,0") + mmerl_member(kIda5, false) +
                                            mmerl_member(kMax5, false) + mmerl_member(kUte5, false) +
                                            mmerl_member(kJan5, true) + kCompetitionEnd + "</table>");
}

TEST_F(TeamPages, MmerlClubNumberRules) {
    const std::string und = club("Und-Verein") + competition("Und") + header("1", "Und I", "50,0") +
                            mmerl_member({"370", "Fuchs, Tom", "50,0"}, false) + kCompetitionEnd + "</table>";
    EXPECT_EQ(mmerl("vnr=&x"), und);  // "&" first: not cut
    const std::string alpha = club("Alpha Sch\xFCtzen") + competition("Und") + header("2", "Alpha I", "40,0") +
                              mmerl_member({"371", "Wolf, Kai", "40,0"}, false) +
                              mmerl_member({"372", "Hahn, Udo", "30,0"}, false) + kCompetitionEnd + "</table>";
    EXPECT_EQ(mmerl("vnr=A1&wettbid=13"), alpha);  // club numbers compare without letter case
    EXPECT_EQ(mmerl("vnr=a1&wettbid=13"), alpha);
    // The link keeps "$vnr"; a club that does not exist gives the empty heading only.
    const std::string nobody = club("") + "</table>";
    EXPECT_EQ(mmerl("vnr=99"), nobody);
    EXPECT_EQ(mmerl(""), nobody);
}

TEST_F(TeamPages, MmerlHostileValues) {
    const std::string nobody = club("") + "</table>";
    // Club numbers are bound as text: quotes and markup find no club and are never echoed.
    for (const std::string q : {"vnr=12\" or \"1\"=\"1", "vnr=\"><script>x", "vnr=12' or 1=1 --", "vnr=%22&wettbid=0"})
        EXPECT_EQ(mmerl(q), nobody) << q;
    EXPECT_EQ(input_error("/mmerl.php", "vnr=12&wettbid="), "Ung\xFCltige Wettbewerbsnummer: kein Wert angegeben");
    EXPECT_EQ(input_error("/mmerl.php", "vnr=12&wettbid=<b>"), "Ung\xFCltige Wettbewerbsnummer: \xBB&lt;b&gt;\xAB");
    for (const std::string q : {"vnr=12&wettbid=5 or 1=1", "vnr=12&wettbid=&", "vnr=12&wettbid=5;DROP", "wettbid=x"}) {
        const std::string m = input_error("/mmerl.php", q);
        EXPECT_TRUE(m.starts_with("Ung\xFCltige Wettbewerbsnummer: ")) << q << ": " << m;
        EXPECT_EQ(m.find("SELECT"), std::string::npos) << m;
    }
}

// --- dispatching ---

TEST_F(TeamPages, EachPathRunsOnlyItsOwnPage) {
    // A query on which the other page would fail shows that it did not run.
    const std::string merl_page = merl("startnr=0&titel=9&wettbid=x");
    EXPECT_EQ(merl_page, merl_heading("Leer", "4") + "</table>");
    EXPECT_EQ(DispatchPage(*ctx_, "/MERL.PHP", "startnr=0&titel=9&wettbid=x").body, kHead + merl_page + kFoot);
    EXPECT_EQ(page("/x/merl.php", "startnr=0&titel=9&wettbid=x"), merl_page);
    EXPECT_EQ(mmerl("vnr=99"), club("") + "</table>");  // merl.php would want a "titel=" value
    EXPECT_EQ(page("/xmmerl.php", "vnr=99"), club("") + "</table>");
    EXPECT_EQ(DispatchPage(*ctx_, "/xmerl.php", "startnr=0&titel=9&").status, 404);
}

}  // namespace

TEST(TeamPagesWithoutDatabase, FailWithAMessage) {
    ringolan::pages::PageContext ctx;
    for (const auto& [path, query] : {std::pair<std::string, std::string>{"/merl.php", "startnr=0&titel=5&"},
                                      {"/mmerl.php", "vnr=12"}, {"/erlsel.php", ""}}) {
        try {
            DispatchPage(ctx, path, query);
            ADD_FAILURE() << path << ": no error";
        } catch (const ringolan::db::QueryError& e) {
            EXPECT_EQ(std::string(e.what()), "Keine Wettkampfdatenbank ge\xF6" "ffnet") << path;
        }
    }
}
