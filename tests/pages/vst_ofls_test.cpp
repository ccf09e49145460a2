// vst.php and ofls.php on small competitions: whole pages typed from their pieces, the
// engine's order and LIKE, the parameter rules, hostile values, and the name index reached
// from the start page's letters through the frameset and request handling.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cp1252.h"
#include "db/sql/query_error.h"
#include "pages/ofslphp.h"
#include "pages/page_context.h"
#include "pages/start.h"
#include "pages/vstphp.h"
#include "server/dispatcher.h"
#include "server/http_request.h"
#include "server/http_response.h"
#include "server/request_handler.h"
#include "tests/pages/competition_fixture.h"
#include "tests/pages/page_fixture.h"
#include "tests/server/page_literals.h"

namespace {

using namespace ringolan::test_pages;
using ringolan::pages::InputError;
using ringolan::pages::ofls_page;
using ringolan::pages::PageContext;
using ringolan::pages::vst_page;
using V = ringolan::jet::Value;

// Windows-1252 form of a UTF-8 literal, as the pages write database texts.
std::string w(const std::string& utf8) { return ringolan::text::utf8_to_cp1252(utf8); }

// ---- vst.php pieces ----

std::string vst_head(const std::string& nr, const std::string& name) {
    return "     <a href='vstbl.php'>Meistbeteiligungsliste</a> |     <a href='mmerl.php?vnr=" + nr +
           "'>Mannschaften</a>" + "    <hr>" + "    <font size='5'>" + name + "</font> <hr>" +
           "<table border=\"0\">";
}

std::string vst_row(const std::string& st, const std::string& surname, const std::string& first) {
    return "<tr><td><a href=\"est.php?ST=" + st + "\">" + surname + " " + first + "</a></td></tr>\n";
}

const std::string kVstEnd = "</table>";

// ---- ofls.php pieces ----

std::string ofls_head(const std::string& initial) {
    return "Namen mit dem Anfangsbuchstaben " + initial + "<table border=1><tr><th>Startnr</th><th>Name </th>" +
           "<th>Verein</th></tr>\r";
}

std::string ofls_row(const std::string& st, const std::string& surname, const std::string& first,
                     const std::string& club_nr, const std::string& club) {
    return "<tr><td><a href=\"est.php?ST=" + st + "\">" + st + "</a></td><td><a href=\"est.php?ST=" + st + "\">" +
           surname + ", " + first + "</a></td>" + "<td><a href=\"vst.php?NR=" + club_nr + "\">" + club +
           "</a></td></tr>\r";
}

const std::string kOflsEnd = "</table> ";

// Clubs and shooters for both pages. Club 12's shooters test the collation: letter case is
// ignored, umlauts sort with their base letter but after it, "ß" equals "ss", a blank sorts
// before letters. Byte order would differ in each of these.
PageContext names_competition() {
    static std::shared_ptr<const ringolan::db::Snapshot> snapshot = [] {
        CompetitionFile f;
        f.club("12", std::string("SV Tell & <Söhne>"));
        f.club("7", std::string("SG Ödenwald"));
        f.club("A1", std::string("Gäste"));
        f.club("30", std::string("Leerer Verein"));
        f.club("40", V{});  // name NULL
        const std::string none;
        // club 12
        f.shooter(103, std::string("Müller"), std::string("Jörg"), "12");
        f.shooter(101, std::string("Muller"), std::string("Karl"), "12");
        f.shooter(105, std::string("Mullers"), std::string("Anna"), "12");
        f.shooter(102, std::string("müller"), std::string("Anton"), "12");
        f.shooter(106, std::string("Weiß"), std::string("Bernd"), "12");
        f.shooter(107, std::string("Weiss"), std::string("Adam"), "12");
        f.shooter(108, std::string("Weist"), std::string("Aaron"), "12");
        f.shooter(109, std::string("Zander"), std::string("Eva"), "12");
        f.shooter(110, std::string("Öhler"), std::string("Udo"), "12");
        f.shooter(111, std::string("Decker"), std::string("Ida"), "12");
        f.shooter(112, std::string("de Vries"), std::string("Jan"), "12");
        // club 7
        f.shooter(201, std::string("Adler"), std::string("Hans"), "7");
        f.shooter(202, std::string("adam"), std::string("Eva"), "7");
        f.shooter(203, std::string("Ärger"), std::string("Udo"), "7");
        f.shooter(204, std::string("ämter"), std::string("Ida"), "7");
        f.shooter(205, std::string("Adler"), V{}, "7");  // first name NULL
        f.shooter(206, std::string("Maier"), std::string("Anna"), "7");
        f.shooter(207, std::string("Meier"), std::string("Karl"), "7");
        f.shooter(208, std::string("Meister"), std::string("Paul"), "7");
        f.shooter(209, std::string("Mayer"), std::string("Jo"), "7");
        f.shooter(210, std::string("Xc4y"), std::string("Test"), "7");
        f.shooter(211, std::string("Meistermeistermeister"), std::string("Lang"), "7");
        // club A1 and a club given in lower case by the shooter
        f.shooter(301, std::string("Gast"), std::string("Erster"), "A1");
        f.shooter(302, std::string("Besuch"), std::string("Zweiter"), "a1");
        // club 40 has no name; club 99 does not exist
        f.shooter(401, std::string("Namenlos"), std::string("Nina"), "40");
        f.shooter(901, std::string("Abt"), std::string("Zoë"), "99");
        return f.snapshot("names.mdb");
    }();
    PageContext ctx;
    ctx.snapshot = snapshot;
    return ctx;
}

// ---- vst.php ----

TEST(VstPage, ClubHeadAndShootersInTheEnginesOrder) {
    PageContext ctx = names_competition();
    const std::string expected = vst_head("12", "SV Tell & <S\xF6hne>") +  // the name goes out raw
                                 vst_row("112", "de Vries", "Jan") +      // blank before letters
                                 vst_row("111", "Decker", "Ida") +        //
                                 vst_row("101", "Muller", "Karl") +       // u before ü
                                 vst_row("102", "m\xFCller", "Anton") +   // case ignored: first names decide
                                 vst_row("103", "M\xFCller", "J\xF6rg") + //
                                 vst_row("105", "Mullers", "Anna") +      // Müller before Mullers
                                 vst_row("110", "\xD6hler", "Udo") +      // Ö with O, before W
                                 vst_row("107", "Weiss", "Adam") +        // ß = ss: first names decide
                                 vst_row("106", "Wei\xDF", "Bernd") +     //
                                 vst_row("108", "Weist", "Aaron") +       // ss before st
                                 vst_row("109", "Zander", "Eva") + kVstEnd;
    EXPECT_EQ(vst_page(ctx, "NR=12"), expected);
    // The key is not examined; without "=" the query itself is the club number.
    EXPECT_EQ(vst_page(ctx, "X=12"), expected);
    EXPECT_EQ(vst_page(ctx, "12"), expected);
    // Framed by the dispatcher, also for an upper-case path.
    const auto r = ringolan::server::DispatchPage(ctx, "/VST.PHP", "NR=12");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, kHead + expected + kFoot);
}

TEST(VstPage, ClubNumbersCompareWithoutLetterCase) {
    PageContext ctx = names_competition();
    // "a1" finds club A1 and both its shooters, whichever case they give; the link echoes the request.
    EXPECT_EQ(vst_page(ctx, "NR=a1"),
              vst_head("a1", "G\xE4ste") + vst_row("302", "Besuch", "Zweiter") + vst_row("301", "Gast", "Erster") +
                  kVstEnd);
}

TEST(VstPage, EmptyUnknownAndNamelessClubs) {
    PageContext ctx = names_competition();
    EXPECT_EQ(vst_page(ctx, "NR=30"), vst_head("30", "Leerer Verein") + kVstEnd);
    EXPECT_EQ(vst_page(ctx, "NR=55"), vst_head("55", "") + kVstEnd);
    EXPECT_EQ(vst_page(ctx, "NR="), vst_head("", "") + kVstEnd);
    EXPECT_EQ(vst_page(ctx, ""), vst_head("", "") + kVstEnd);
    EXPECT_EQ(vst_page(ctx, "NR=40"), vst_head("40", "") + vst_row("401", "Namenlos", "Nina") + kVstEnd);
}

TEST(VstPage, ClubNumberIsTheWholeTailUpToTwentyCharacters) {
    PageContext ctx = names_competition();
    // A second parameter becomes part of the club number, which then matches no club.
    EXPECT_EQ(vst_page(ctx, "NR=12&x=1"), vst_head("12&x=1", "") + kVstEnd);
    EXPECT_EQ(vst_page(ctx, "NR=1234567890123456789012"), vst_head("12345678901234567890", "") + kVstEnd);
    // Without "=" the first 20 characters of the query.
    EXPECT_EQ(vst_page(ctx, "abcdefghijklmnopqrstuvwxyz"), vst_head("abcdefghijklmnopqrst", "") + kVstEnd);
}

// The message of the InputError the page throws for the query; fails the test when none.
template <typename Page>
std::string input_error(Page page, PageContext& ctx, const std::string& query) {
    try {
        page(ctx, query);
    } catch (const InputError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no InputError for " << query;
    return {};
}

void expect_plain_message(const std::string& m, const std::string& what) {
    EXPECT_NE(m.find(what), std::string::npos) << m;
    for (const char* sql : {"SELECT", "select", "WHERE", "like", "verein", "starter", "Vereinsnr", "nachname"})
        EXPECT_EQ(m.find(sql), std::string::npos) << "SQL text in: " << m;
    for (char c : {'<', '>', '"', '\''}) EXPECT_EQ(m.find(c), std::string::npos) << "unescaped in: " << m;
}

TEST(VstPage, HostileClubNumbers) {
    PageContext ctx = names_competition();
    // A double quote would have ended the string literal.
    for (const char* q : {"NR=\"", "NR=12\" or \"1\"=\"1", "NR=12\"\"", "NR=\"><script>", "NR=x\"'--"}) {
        expect_plain_message(input_error(vst_page, ctx, q), "Vereinsnummer");
    }
    EXPECT_NE(input_error(vst_page, ctx, "NR=<b>\"").find("&lt;b&gt;&quot;"), std::string::npos);
    // A NUL byte would have cut the statement (and the collation would ignore it: "12\0" = "12").
    expect_plain_message(input_error(vst_page, ctx, std::string("NR=12\0", 6)), "Vereinsnummer");
    EXPECT_THROW(ringolan::server::DispatchPage(ctx, "/vst.php", "NR=1\""), InputError);

    // Anything else is a club number that matches nothing, echoed escaped into the link.
    EXPECT_EQ(vst_page(ctx, "NR=<script>'x"), vst_head("&lt;script&gt;&#39;x", "") + kVstEnd);
    EXPECT_EQ(vst_page(ctx, "NR=12' or '1'='1"), vst_head("12&#39; or &#39;1&#39;=&#39;1", "") + kVstEnd);
    EXPECT_EQ(vst_page(ctx, "NR=12;DROP TABLE x"), vst_head("12;DROP TABLE x", "") + kVstEnd);
    EXPECT_EQ(vst_page(ctx, "NR=%"), vst_head("%", "") + kVstEnd);  // "=" compares, no wildcard
}

// ---- ofls.php ----

TEST(OflsPage, SurnamesBeginningWithALetterIgnoringCase) {
    PageContext ctx = names_competition();
    // "Abt" has no club and is left out; "Ärger" and "ämter" do not begin with A.
    const std::string expected = ofls_head("A") + ofls_row("202", "adam", "Eva", "7", "SG \xD6" "denwald") +
                                 ofls_row("205", "Adler", "", "7", "SG \xD6" "denwald") +  // NULL first
                                 ofls_row("201", "Adler", "Hans", "7", "SG \xD6" "denwald") + kOflsEnd;
    EXPECT_EQ(ofls_page(ctx, "B=A"), expected);
    EXPECT_EQ(ofls_page(ctx, "x=A"), expected);
    EXPECT_EQ(ofls_page(ctx, "A"), expected);
    EXPECT_EQ(ofls_page(ctx, "B=a"), ofls_head("a") + expected.substr(ofls_head("A").size()));
    const auto r = ringolan::server::DispatchPage(ctx, "/ofls.php", "B=A");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, kHead + expected + kFoot);
}

TEST(OflsPage, UmlautInitialsSelectOnlyTheirUmlaut) {
    PageContext ctx = names_competition();
    const std::string rows = ofls_row("204", w("ämter"), "Ida", "7", "SG \xD6" "denwald") +
                             ofls_row("203", w("Ärger"), "Udo", "7", "SG \xD6" "denwald");
    EXPECT_EQ(ofls_page(ctx, "B=\xC4"), ofls_head("\xC4") + rows + kOflsEnd);
    EXPECT_EQ(ofls_page(ctx, "B=\xE4"), ofls_head("\xE4") + rows + kOflsEnd);
    EXPECT_EQ(ofls_page(ctx, "B=\xD6"),
              ofls_head("\xD6") + ofls_row("110", w("Öhler"), "Udo", "12", w("SV Tell & <Söhne>")) + kOflsEnd);
    // Percent-encoded, the three characters reach the pattern: "%" is a wildcard, so the
    // surname "Xc4y" matches and no umlaut does.
    EXPECT_EQ(ofls_page(ctx, "B=%C4"),
              ofls_head("%C4") + ofls_row("210", "Xc4y", "Test", "7", "SG \xD6" "denwald") + kOflsEnd);
}

TEST(OflsPage, LongerInitialsAndWildcards) {
    PageContext ctx = names_competition();
    const std::string club = "SG \xD6" "denwald";
    const std::string meier = ofls_row("207", "Meier", "Karl", "7", club);
    const std::string meister = ofls_row("208", "Meister", "Paul", "7", club);
    const std::string long_name = ofls_row("211", "Meistermeistermeister", "Lang", "7", club);
    EXPECT_EQ(ofls_page(ctx, "B=Mei"), ofls_head("Mei") + meier + meister + long_name + kOflsEnd);
    EXPECT_EQ(ofls_page(ctx, "B=mEIST"), ofls_head("mEIST") + meister + long_name + kOflsEnd);
    // "_" stands for one character, "%" for any run.
    EXPECT_EQ(ofls_page(ctx, "B=M_i"),
              ofls_head("M_i") + ofls_row("206", "Maier", "Anna", "7", club) + meier + meister + long_name + kOflsEnd);
    EXPECT_EQ(ofls_page(ctx, "B=_dl"),
              ofls_head("_dl") + ofls_row("205", "Adler", "", "7", club) + ofls_row("201", "Adler", "Hans", "7", club) +
                  kOflsEnd);
    EXPECT_EQ(ofls_page(ctx, "B=%st"), ofls_head("%st") + ofls_row("301", "Gast", "Erster", "A1", w("Gäste")) +
                                           meister + long_name +
                                           ofls_row("108", "Weist", "Aaron", "12", w("SV Tell & <Söhne>")) + kOflsEnd);
    // Twenty characters are used: the 21st ("x") would match nothing.
    EXPECT_EQ(ofls_page(ctx, "B=Meistermeistermeistex"), ofls_head("Meistermeistermeiste") + long_name + kOflsEnd);
    // No cut at "&": the second parameter is part of the initial text.
    EXPECT_EQ(ofls_page(ctx, "B=Mei&x=1"), ofls_head("Mei&x=1") + kOflsEnd);
    EXPECT_EQ(ofls_page(ctx, "B=Q"), ofls_head("Q") + kOflsEnd);
}

TEST(OflsPage, EmptyInitialListsEveryShooterWithAClub) {
    PageContext ctx = names_competition();
    const std::string page = ofls_page(ctx, "B=");
    ASSERT_TRUE(page.starts_with(ofls_head("")));
    ASSERT_TRUE(page.ends_with(kOflsEnd));
    // 26 shooters, "Abt" (club 99) left out; rows end with a carriage return only.
    size_t rows = 0;
    for (size_t at = page.find("<tr><td>"); at != std::string::npos; at = page.find("<tr><td>", at + 1)) ++rows;
    EXPECT_EQ(rows, 25u);
    EXPECT_EQ(page.find("\n"), std::string::npos);
    EXPECT_EQ(page.find("Abt"), std::string::npos);
    // The club without a name still lists its shooter, with an empty link text.
    EXPECT_NE(page.find(ofls_row("401", "Namenlos", "Nina", "40", "")), std::string::npos);
    // Club numbers are the club's own, not the shooter's spelling.
    EXPECT_NE(page.find(ofls_row("302", "Besuch", "Zweiter", "A1", w("Gäste"))), std::string::npos);
    // Order across clubs: adam, Adler, Adler, ämter, Ärger, Besuch, de Vries, Decker, Gast, ...
    const std::vector<std::string> first_rows = {"202", "205", "201", "204", "203", "302", "112", "111", "301"};
    size_t from = 0;
    for (const std::string& st : first_rows) {
        const size_t at = page.find("<tr><td><a href=\"est.php?ST=" + st + "\">", from);
        ASSERT_NE(at, std::string::npos) << st;
        from = at + 1;
    }
}

TEST(OflsPage, HostileInitials) {
    PageContext ctx = names_competition();
    for (const char* q : {"B=\"", "B=A\") or (\"1\"=\"1", "B=A\"\"", "B=\"><script>"}) {
        expect_plain_message(input_error(ofls_page, ctx, q), "Anfangsbuchstaben");
    }
    EXPECT_THROW(ringolan::server::DispatchPage(ctx, "/ofls.php", "B=\""), InputError);
    expect_plain_message(input_error(ofls_page, ctx, std::string("B=Ad\0", 5)), "Anfangsbuchstaben");
    // Without a double quote: a pattern that matches nothing, echoed escaped in the heading.
    EXPECT_EQ(ofls_page(ctx, "B=<script>alert(1)</script>"),
              ofls_head("&lt;script&gt;alert(1)&lt;/sc") + kOflsEnd);
    EXPECT_EQ(ofls_page(ctx, "B=A' or '1'='1"), ofls_head("A&#39; or &#39;1&#39;=&#39;1") + kOflsEnd);
}

TEST(VstOflsPages, WithoutADatabaseFailWithAMessage) {
    PageContext ctx;
    for (auto page : {vst_page, ofls_page}) {
        try {
            page(ctx, "B=A");
            ADD_FAILURE() << "no error";
        } catch (const ringolan::db::QueryError& e) {
            EXPECT_EQ(std::string(e.what()), "Keine Wettkampfdatenbank ge\xF6" "ffnet");
        }
    }
}

// ---- through request handling ----

class NameIndexRequests : public ::testing::Test {
protected:
    void SetUp() override {
        ctx_ = names_competition();
        env_.web_root = test_dir();
        env_.snapshot = [this] { return ctx_.snapshot; };
    }

    // The answer to a raw request, parsed as the server parses it.
    ringolan::server::Response get(const std::string& target) {
        ringolan::server::RequestParser parser;
        EXPECT_EQ(parser.feed("GET " + target + " HTTP/1.0\r\n\r\n"), ringolan::server::ParseStatus::complete);
        const ringolan::server::Request request = parser.take_request();
        return ringolan::server::run_handler(request, [this](const auto& q, auto& r) {
            ringolan::server::HandleRequest(env_, q, r);
        });
    }

    PageContext ctx_;
    ringolan::server::HandlerEnv env_;
};

TEST_F(NameIndexRequests, StartPageLettersLeadThroughTheFramesetToTheNameIndex) {
    const std::string start = ringolan::pages::start_page(ctx_);
    const std::string link = "<a href=\"rahmenofls.php?B=";
    std::vector<std::string> letters;
    for (size_t at = start.find(link); at != std::string::npos; at = start.find(link, at + 1)) {
        const size_t from = at + link.size();
        letters.push_back(start.substr(from, start.find('"', from) - from));
    }
    ASSERT_EQ(letters.size(), 28u);  // A to Z with Ä and Ö
    for (const std::string& letter : letters) {
        SCOPED_TRACE(letter);
        // The browser sends the href as written; the frame source is "n" + the page's own address.
        const auto frame = get("/rahmenofls.php?B=" + letter);
        EXPECT_EQ(frame.status_code, 200);
        EXPECT_EQ(frame.body(), frameset("nofls.php?B=" + letter));
        const auto page = get("/nofls.php?B=" + letter);
        EXPECT_EQ(page.status_code, 200);
        EXPECT_EQ(page.body(), kHead + ofls_page(ctx_, "B=" + letter) + kFoot);
        EXPECT_TRUE(page.body().starts_with(kHead + ofls_head(letter)));
    }
    // The letters A and Ä, each with the rows worked out above.
    const std::string club = "SG \xD6" "denwald";
    EXPECT_EQ(get("/nofls.php?B=A").body(),
              kHead + ofls_head("A") + ofls_row("202", "adam", "Eva", "7", club) + ofls_row("205", "Adler", "", "7", club) +
                  ofls_row("201", "Adler", "Hans", "7", club) + kOflsEnd + kFoot);
    EXPECT_EQ(get("/nofls.php?B=\xC4").body(),
              kHead + ofls_head("\xC4") + ofls_row("204", w("ämter"), "Ida", "7", club) +
                  ofls_row("203", w("Ärger"), "Udo", "7", club) + kOflsEnd + kFoot);
}

TEST_F(NameIndexRequests, PercentEncodedUmlautReachesThePageUndecoded) {
    // A browser that encodes the link's umlaut sends %C4; the query text stays raw all the way.
    const auto frame = get("/rahmenofls.php?B=%C4");
    EXPECT_EQ(frame.body(), frameset("nofls.php?B=%C4"));
    const auto page = get("/nofls.php?B=%C4");
    EXPECT_EQ(page.status_code, 200);
    EXPECT_EQ(page.body(), kHead + ofls_head("%C4") + ofls_row("210", "Xc4y", "Test", "7", "SG \xD6" "denwald") +
                                kOflsEnd + kFoot);
    // The path, unlike the query, is decoded: %6F is "o".
    EXPECT_EQ(get("/n%6Ffls.php?B=%C4").body(), page.body());
}

TEST_F(NameIndexRequests, ClubPageAndInputErrorsAnswered) {
    const auto page = get("/vst.php?NR=A1");
    EXPECT_EQ(page.status_code, 200);
    EXPECT_EQ(page.body(), kHead + vst_head("A1", "G\xE4ste") + vst_row("302", "Besuch", "Zweiter") +
                                vst_row("301", "Gast", "Erster") + kVstEnd + kFoot);
    const auto bad = get("/ofls.php?B=%22%22\"x");
    EXPECT_EQ(bad.status_code, 500);
    expect_plain_message(std::string(bad.body()), "Anfangsbuchstaben");
}

}  // namespace
