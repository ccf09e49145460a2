// The API on a small file of starter and verein alone: bad addresses and ids, the search's
// matching rules, and the answers where the file lacks the other tables.
#include <gtest/gtest.h>

#include "api/api.h"
#include "api/disciplines.h"
#include "db/jet/writer.h"
#include "tests/api/api_fixture.h"

namespace {

using namespace ringolan::test_api;
namespace jet = ringolan::jet;

struct Person {
    int64_t startnr;
    const char* nachname;  // UTF-8
    const char* vorname;
    const char* club;
};

const Person kPeople[] = {
    {1, "Müller", "Anna", "001"}, {2, "Muller", "Bernd", "001"}, {3, "MÜLLERSON", "Carla", "002"},
    {4, "Weiß", "Dora", "002"},   {5, "Weiss", "Emil", "002"},   {6, "100%ig", "Fritz", "003"},
    {7, "a_b", "Gina", "003"},    {8, "axb", "Hans", "003"},     {12, "Maier", "Anna Maria", "Ä1"},
};
const std::pair<const char*, const char*> kClubs[] = {
    {"001", "SV Müllheim"}, {"002", "Weißer Hirsch"}, {"003", "SG 12er"}, {"Ä1", "Älpler"}, {"004", "Leerverein"}};

class SmallFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        jet::DatabaseWriter w;
        auto& starter = w.add_table("starter", {{"Startnr", jet::ColumnType::Long},
                                                {"Nachname", jet::ColumnType::Text, 50},
                                                {"Vorname", jet::ColumnType::Text, 50},
                                                {"Vereinsnr", jet::ColumnType::Text, 10}});
        for (const Person& p : kPeople)
            starter.add_row({p.startnr, std::string(p.nachname), std::string(p.vorname), std::string(p.club)});
        for (int64_t n = 100; n < 160; ++n)  // more namesakes than one answer holds
            starter.add_row({n, std::string("Vielfach"), std::string("Vorname"), std::string("004")});
        auto& verein =
            w.add_table("verein", {{"Vereinsnr", jet::ColumnType::Text, 10}, {"Name", jet::ColumnType::Text, 80}});
        for (const auto& [nr, name] : kClubs) verein.add_row({std::string(nr), std::string(name)});
        w.save(test_dir() / "small.mdb");
        snapshot_ = snapshot_of(test_dir() / "small.mdb", 7);
    }
    static void TearDownTestSuite() { snapshot_.reset(); }

    static inline std::shared_ptr<const ringolan::db::Snapshot> snapshot_;
};

struct BadInput {
    const char* resource;
    const char* query;
    int status;
    const char* error;  // a part of the message
    const char* not_echoed;
};

TEST_F(SmallFile, BadInputGetsAPlainErrorWithoutTheInput) {
    const std::string long_q = "q=" + std::string(101, 'x');
    const BadInput cases[] = {
        {"/lists/abc", "", 400, "Listennummer", "abc"},
        {"/lists/-3", "", 400, "Listennummer", "-3"},
        {"/lists/1.5", "", 400, "Listennummer", "1.5"},
        {"/lists/ 1", "", 400, "Listennummer", " 1"},
        {"/lists/99999999999999999999", "", 400, "Listennummer", "9999999999"},
        {"/shooters/12x", "", 400, "Startnummer", "12x"},
        {"/shooters/+12", "", 400, "Startnummer", "+12"},
        {"/shooters/999", "", 404, "Startnummer 999.", "<"},
        {"/lists/7", "", 404, "Nummer 7.", "<"},  // the file has no lists
        {"/clubs/<b>\"x\"", "", 404, "Kein Verein", "<b>"},
        {"/lists/1/<i>", "", 404, "Unbekannte Adresse", "<i>"},
        {"/state/x", "", 404, "Unbekannte Adresse", "/x"},
        {"/nichts", "", 404, "Unbekannte Adresse", "nichts"},
        {"", "", 404, "Unbekannte Adresse", "\""},
        {"/search", long_q.c_str(), 400, "Suchtext", "xxxx"},
    };
    for (const BadInput& c : cases) {
        const Reply r = ask(*snapshot_, c.resource, c.query);
        EXPECT_EQ(r.status, c.status) << c.resource;
        ASSERT_TRUE(r.body.is_object() && r.body.size() == 1 && r.body["error"].is_string()) << c.resource;
        const std::string message = r.body["error"];
        EXPECT_NE(message.find(c.error), std::string::npos) << c.resource << ": " << message;
        EXPECT_EQ(message.find(c.not_echoed), std::string::npos) << c.resource << ": " << message;
    }
    EXPECT_EQ(ringolan::api::no_competition().status, 503);
    EXPECT_TRUE(Json::accept(ringolan::api::no_competition().json));
}

TEST_F(SmallFile, TrailingSlashesNameTheSameResource) {
    const std::pair<const char*, const char*> cases[] = {
        {"/clubs", "/clubs/"}, {"/clubs/001", "/clubs/001//"}, {"/state", "/state/"}};
    for (const auto& [plain, slashed] : cases)
        EXPECT_EQ(ringolan::api::answer(*snapshot_, slashed, "").json,
                  ringolan::api::answer(*snapshot_, plain, "").json);
}

TEST_F(SmallFile, MissingTablesLeaveTheirPartsEmpty) {
    const Json state = ask(*snapshot_, "/state").body;
    EXPECT_EQ(state["state"], 7);
    EXPECT_EQ(state["competition"],
              Json({{"name", nullptr}, {"organizer", nullptr}, {"place", nullptr}, {"date", nullptr}}));
    EXPECT_EQ(ask(*snapshot_, "/lists").body["lists"], Json::array());
    const Reply shooter = ask(*snapshot_, "/shooters/12");
    EXPECT_EQ(shooter.status, 200);
    EXPECT_EQ(shooter.body["club"], "Älpler");
    EXPECT_EQ(shooter.body["ranks"], Json::array());
    EXPECT_EQ(shooter.body["targets"], Json::array());
    const Json club = ask(*snapshot_, "/clubs/Ä1").body;  // the path arrives decoded, as UTF-8
    EXPECT_EQ(club["shooters"],
              Json::array({{{"startnr", 12}, {"name", "Maier"}, {"first_name", "Anna Maria"}, {"best", nullptr}}}));
}

struct SearchCase {
    const char* query;
    std::vector<int64_t> shooters;
    std::vector<const char*> clubs;
};

TEST_F(SmallFile, SearchFoldsCaseLikeJetsLikeAndTakesTheTextLiterally) {
    const SearchCase cases[] = {
        {"q=m%C3%BCll", {1, 3}, {"001"}},  // letter case ignored, ü not u
        {"q=MULLER", {2}, {}},
        {"q=wei%C3%9F", {4}, {"002"}},  // ß is not ss
        {"q=%25", {6}, {}},             // "%" and "_" match themselves only
        {"q=_", {7}, {}},
        {"q=anna+m", {12, 1}, {}},    // "Vorname Nachname"; ordered by name
        {"x=1&q=12", {12}, {"003"}},  // the start number, and names holding the digits
        {"q=%C3%84", {}, {"Ä1"}},
        {"q=+", {}, {}},
        {"", {}, {}},
    };
    for (const SearchCase& c : cases) {
        const Json body = ask(*snapshot_, "/search", c.query).body;
        std::vector<int64_t> shooters;
        std::vector<std::string> clubs;
        for (const Json& s : body["shooters"]) shooters.push_back(s["startnr"]);
        for (const Json& club : body["clubs"]) clubs.push_back(club["nr"]);
        EXPECT_EQ(shooters, c.shooters) << c.query;
        EXPECT_EQ(clubs, std::vector<std::string>(c.clubs.begin(), c.clubs.end())) << c.query;
    }
    const Json many = ask(*snapshot_, "/search", "q=vielfach").body;
    EXPECT_EQ(many["shooters"].size(), 50u);
    EXPECT_EQ(many["q"], "vielfach");
    EXPECT_EQ(ask(*snapshot_, "/search", "q=leerverein").body["clubs"].size(), 1u);
}

TEST(Discipline, IsTheLongestNameBeginningTheTitleElseTheTextBeforeTheDash) {
    const std::vector<std::string> names = {"Luftgewehr", "Luftgewehr 40 Schuss", "KK"};
    const std::pair<const char*, const char*> cases[] = {
        {"Luftgewehr 40 Schuss - Damen", "Luftgewehr 40 Schuss"},
        {"Luftgewehr Auflage - Damen", "Luftgewehr"},
        {"luftgewehr 40 Schuss - Damen", "luftgewehr 40 Schuss"},
        {"Pokal - Finale - Damen", "Pokal"},
        {"Wanderpokal", "Wanderpokal"},
    };
    for (const auto& [title, discipline] : cases)
        EXPECT_EQ(ringolan::api::discipline_of(title, names), discipline) << title;
}

}  // namespace
