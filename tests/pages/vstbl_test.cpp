// vstbl.php through the dispatcher on small files: whole pages compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "db/query/query.h"
#include "server/dispatcher.h"
#include "tests/pages/page_fixture.h"
#include "tests/server/page_literals.h"

namespace {

using namespace ringolan::test_pages;
using ringolan::server::DispatchPage;

const std::string kTableHead =
    "   <table border='1'>  <tr>    <td width='300'><b>Verein </b></td>    <td width='50'><b>Anzahl</b></td>  </tr>  ";

// One table row; nr, name and count as Windows-1252 bytes.
std::string row(const std::string& nr, const std::string& name, const std::string& count) {
    return "<tr><td><a href=\"vst.php?NR=" + nr + "\">" + name + "</a></td> <td><a href=\"vst.php?NR=" + nr + "\">" +
           count + "</a></td></tr>\n";
}

std::string page_of(const std::string& rows) { return kHead + kTableHead + rows + "</table>" + kFoot; }

ringolan::server::PageResult vstbl(const std::string& file, const std::vector<Club>& clubs,
                                   const std::vector<Shooter>& shooters) {
    ringolan::pages::PageContext ctx;
    ctx.snapshot = snapshot_of(write_clubs_file(file, clubs, shooters));
    return DispatchPage(ctx, "/vstbl.php", "");
}

std::vector<Shooter> shooters_of(const std::vector<std::pair<std::string, int>>& per_club) {
    std::vector<Shooter> out;
    int64_t startnr = 1001;
    for (const auto& [nr, n] : per_club)
        for (int i = 0; i < n; ++i) out.push_back({startnr++, nr});
    return out;
}

TEST(VstblPage, NoShootersGiveTheHeadRowAndTheTableEnd) {
    const auto r = vstbl("empty.mdb", {{"1", std::string("SV Eiche")}, {"2", std::string("SG Linde")}}, {});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, page_of(""));
}

TEST(VstblPage, OneClubWithThreeShooters) {
    const auto r = vstbl("club7.mdb", {{"7", std::string("Club")}}, shooters_of({{"7", 3}}));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, page_of("<tr><td><a href=\"vst.php?NR=7\">Club</a></td> <td><a href=\"vst.php?NR=7\">3</a></td></tr>\n"));
    EXPECT_EQ(r.body.find("\n\r"), std::string::npos);
}

TEST(VstblPage, ValuesAreCopiedUnescaped) {
    const auto r = vstbl("escape.mdb", {{"12", std::string("Schuetzen & <Freunde> \"1920\" 'e.V.'")}},
                         shooters_of({{"12", 1}}));
    EXPECT_EQ(r.body, page_of(row("12", "Schuetzen & <Freunde> \"1920\" 'e.V.'", "1")));
}

TEST(VstblPage, UmlautsComeOutAsWindows1252) {
    const auto r = vstbl("umlaut.mdb", {{"3", std::string("Schützen Öhringen-Süd ß")}}, shooters_of({{"3", 2}}));
    EXPECT_EQ(r.body, page_of(row("3", "Sch\xFCtzen \xD6hringen-S\xFC" "d \xDF", "2")));
}

TEST(VstblPage, ClubsWithoutShootersAndShootersWithoutClubAreLeftOut) {
    const auto r = vstbl("absent.mdb",
                         {{"1", std::string("Ohne Schuetzen")}, {"2", std::string("Mit Schuetzen")}},
                         shooters_of({{"2", 2}, {"99", 4}, {"", 1}}));
    EXPECT_EQ(r.body, page_of(row("2", "Mit Schuetzen", "2")));
}

TEST(VstblPage, CountsDescendAndAreWrittenInDigits) {
    const auto r = vstbl("order.mdb",
                         {{"1", std::string("Eins")}, {"2", std::string("Zwei")}, {"3", std::string("Drei")},
                          {"4", std::string("Vier")}},
                         shooters_of({{"1", 1}, {"2", 12}, {"3", 4}, {"4", 2}}));
    EXPECT_EQ(r.body, page_of(row("2", "Zwei", "12") + row("3", "Drei", "4") + row("4", "Vier", "2") +
                              row("1", "Eins", "1")));
}

TEST(VstblPage, ClubNumberIsTextAndNullNameIsEmpty) {
    const auto r = vstbl("text.mdb", {{"007", ringolan::jet::Null{}}}, shooters_of({{"007", 2}}));
    EXPECT_EQ(r.body, page_of(row("007", "", "2")));
}

TEST(VstblPage, TiesKeepTheirCountsTogether) {
    // Counts 3, 3, 3, 2, 2, 1: only the set of rows within equal counts is fixed.
    const std::vector<Club> clubs = {{"10", std::string("Adler")}, {"11", std::string("Bär")},  {"12", std::string("Falke")},
                                     {"13", std::string("Hirsch")}, {"14", std::string("Luchs")}, {"15", std::string("Wolf")}};
    const auto r = vstbl("ties.mdb", clubs,
                         shooters_of({{"10", 2}, {"11", 3}, {"12", 3}, {"13", 1}, {"14", 3}, {"15", 2}}));
    const std::string prefix = kHead + kTableHead, suffix = std::string("</table>") + kFoot;
    ASSERT_TRUE(r.body.starts_with(prefix));
    ASSERT_TRUE(r.body.ends_with(suffix));
    const std::string rows = r.body.substr(prefix.size(), r.body.size() - prefix.size() - suffix.size());

    std::vector<std::string> lines;
    for (size_t at = 0; at < rows.size();) {
        const size_t end = rows.find('\n', at);
        ASSERT_NE(end, std::string::npos) << "every row ends with a line feed";
        lines.push_back(rows.substr(at, end + 1 - at));
        at = end + 1;
    }
    const std::vector<std::vector<std::string>> groups = {
        {row("11", "B\xE4r", "3"), row("12", "Falke", "3"), row("14", "Luchs", "3")},
        {row("10", "Adler", "2"), row("15", "Wolf", "2")},
        {row("13", "Hirsch", "1")},
    };
    ASSERT_EQ(lines.size(), 6u);
    size_t at = 0;
    for (auto group : groups) {
        std::vector<std::string> got(lines.begin() + long(at), lines.begin() + long(at + group.size()));
        std::sort(got.begin(), got.end());
        std::sort(group.begin(), group.end());
        EXPECT_EQ(got, group);
        at += group.size();
    }
}

TEST(VstblPage, ClubNumbersJoinAndGroupWithoutRegardToCase) {
    // Text equality follows the Jet sort order: "v1" and "V1" are the same club.
    const auto r = vstbl("case.mdb", {{"V1", std::string("Verein Eins")}}, shooters_of({{"v1", 2}, {"V1", 1}}));
    EXPECT_EQ(r.body, page_of(row("V1", "Verein Eins", "3")));
}

TEST(VstblPage, MissingTableFailsWithAClearMessage) {
    const auto file = write_clubs_file("noverein.mdb", {}, shooters_of({{"1", 2}}), false);
    ringolan::pages::PageContext ctx;
    ctx.snapshot = snapshot_of(file);
    try {
        DispatchPage(ctx, "/vstbl.php", "");
        FAIL() << "no error";
    } catch (const ringolan::db::QueryError& e) {
        EXPECT_NE(std::string(e.what()).find("verein"), std::string::npos) << e.what();
    }
    // Other pages do not touch the database.
    EXPECT_EQ(DispatchPage(ctx, "/rahmenvstbl.php", "").status, 200);
}

}  // namespace

// Before any competition file is loaded the page fails with a message, not a crash.
TEST(VstblPage, WithoutADatabaseFailsWithAMessage) {
    ringolan::pages::PageContext ctx;
    try {
        DispatchPage(ctx, "/vstbl.php", "");
        FAIL() << "no error";
    } catch (const ringolan::db::QueryError& e) {
        EXPECT_EQ(std::string(e.what()), "Keine Wettkampfdatenbank ge\xF6" "ffnet");
    }
}
