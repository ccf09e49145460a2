#include "db/sql/jet_sql.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/db/sql/jet_statements.h"
#include "tests/db/sql/jet_test_db.h"

using namespace ringolan::testing;
using ringolan::db::QueryError;
using ringolan::db::translate_jet_sql;

namespace {

using Strings = std::vector<std::string>;

struct Rows {
    Strings names;
    std::vector<Strings> rows;
    Strings column(size_t c) const {
        Strings out;
        for (const auto& r : rows) out.push_back(r.at(c));
        return out;
    }
};

// Translates, binds every value as text (as the pages take them from the request) and reads
// all rows as text ("NULL" for NULL).
Rows run(sqlite3* db, const char* jet, const Strings& params = {}) {
    const std::string sql = translate_jet_sql(jet);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in: " + sql);
    const ringolan::sqlite::StmtHandle guard(st);
    EXPECT_EQ(sqlite3_bind_parameter_count(st), int(params.size())) << jet;
    for (size_t i = 0; i < params.size(); ++i) sqlite3_bind_text(st, int(i + 1), params[i].c_str(), -1, SQLITE_TRANSIENT);
    Rows r;
    for (int c = 0; c < sqlite3_column_count(st); ++c) r.names.push_back(sqlite3_column_name(st, c));
    while (sqlite3_step(st) == SQLITE_ROW) {
        Strings row;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            const auto* t = sqlite3_column_text(st, c);
            row.push_back(t ? reinterpret_cast<const char*>(t) : "NULL");
        }
        r.rows.push_back(row);
    }
    return r;
}

}  // namespace

TEST(JetSql, LiteralsBecomeSingleQuotedStrings) {
    EXPECT_EQ(translate_jet_sql("SELECT * FROM verein where Vereinsnr=\"12\""), "SELECT * FROM verein WHERE Vereinsnr = '12'");
    EXPECT_EQ(translate_jet_sql("SELECT a FROM t WHERE b=\"O'Neil\""), "SELECT a FROM t WHERE b = 'O''Neil'");
    EXPECT_EQ(translate_jet_sql("SELECT a FROM t WHERE b=\"say \"\"hi\"\"\""), "SELECT a FROM t WHERE b = 'say \"hi\"'");
    EXPECT_EQ(translate_jet_sql("SELECT a FROM t WHERE b='it''s'"), "SELECT a FROM t WHERE b = 'it''s'");
    EXPECT_EQ(translate_jet_sql("SELECT a FROM t WHERE b=\"\""), "SELECT a FROM t WHERE b = ''");
    // Windows-1252 in, UTF-8 out; a "?" inside a literal is text, not a placeholder
    EXPECT_EQ(translate_jet_sql("SELECT a FROM t WHERE b=\"K\xF6nig?\""), "SELECT a FROM t WHERE b = 'K\xC3\xB6nig?'");
}

TEST(JetSql, BooleansNamesAndLayout) {
    EXPECT_EQ(translate_jet_sql("select ID from wettb_def where mannschaft=true  and x=FALSE or y=False;"),
              "SELECT ID FROM wettb_def WHERE mannschaft = -1 AND x = 0 OR y = 0");
    EXPECT_EQ(translate_jet_sql("SELECT [Order Details].[Unit Price] FROM [Order Details]"),
              "SELECT \"Order Details\".\"Unit Price\" FROM \"Order Details\"");
    // names SQLite reserves are quoted; "_option" and "Option" are plain names
    EXPECT_EQ(translate_jet_sql("SELECT Action, t.Key, Option as _option FROM t"),
              "SELECT \"Action\", t.\"Key\", Option AS _option FROM t");
    EXPECT_EQ(translate_jet_sql("SELECT  a ,\r\n b\tFROM  t  WHERE c<>?and d>=?"), "SELECT a, b FROM t WHERE c <> ? AND d >= ?");
    EXPECT_EQ(translate_jet_sql("SELECT Count( t.x ) AS n, t.* FROM t GROUP BY t.y ORDER BY Count( t.x ) DESC"),
              "SELECT count(t.x) AS n, t.* FROM t GROUP BY t.y ORDER BY count(t.x) DESC");
    EXPECT_EQ(translate_jet_sql("SELECT Na\xEFve FROM t"), "SELECT \"Na\xC3\xAFve\" FROM t");
    EXPECT_EQ(translate_jet_sql("SELECT 0, 1.5, .5, 2E3 FROM t WHERE a is not null and b not like \"x%\""),
              "SELECT 0, 1.5, .5, 2E3 FROM t WHERE a IS NOT NULL AND b NOT LIKE 'x%'");
}

TEST(JetSql, RejectsWhatItDoesNotUnderstand) {
    const char* bad[] = {
        "SELECT a FROM t; DROP TABLE t",      // second statement
        "SELECT a FROM t;;",                  // doubled end
        "UPDATE t SET a=1",                   // not a query
        "DELETE FROM t",
        "SELECT TOP 5 a FROM t",              // Jet-only syntax
        "SELECT a FROM t UNION SELECT b FROM u",
        "SELECT a & b FROM t",                // Jet concatenation
        "SELECT a FROM t WHERE d=#1/1/2000#", // Jet date literal
        "SELECT Left(a,1) FROM t",            // functions other than Count
        "SELECT a FROM t WHERE b=\"open",     // unterminated literal
        "SELECT [a FROM t",                   // unterminated name
        "SELECT a FROM t WHERE b=12abc",      // number glued to a name
        "SELECT t. FROM t",                   // "." without a name
        "SELECT a FROM t WHERE b LIKE 'x' ESCAPE '!'",
        "SELECT a FROM t WHERE b IN (SELECT c FROM u)",
        "SELECT a FROM t WHERE b != 1",
        "SELECT t!a FROM t",
        "",
        "   ",
    };
    for (const char* s : bad) EXPECT_THROW(translate_jet_sql(s), QueryError) << s;
    try {
        translate_jet_sql("SELECT Left(a,1) FROM t");
    } catch (const QueryError& e) {
        EXPECT_NE(std::string(e.what()).find("Left"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("SELECT Left(a,1) FROM t"), std::string::npos) << e.what();
    }
}

class JetStatements : public ::testing::Test {
protected:
    void SetUp() override {
        create_schema(db.get());
        fill_competition(db.get());
    }
    Rows q(const char* jet, const Strings& params = {}) { return run(db.get(), jet, params); }
    DbPtr db = open_jet_db();
};

TEST_F(JetStatements, ClubPages) {
    Rows r = q(jet::kClubCounts);
    ASSERT_EQ(r.rows.size(), 3u);  // club 3 has no shooter, club 99 does not exist
    EXPECT_EQ(r.names, (Strings{"Name", "Vereinsnr", "Anzahl"}));
    EXPECT_EQ(r.column(2), (Strings{"3", "3", "2"}));
    EXPECT_EQ(r.rows[2], (Strings{"SG Öhringen", "2", "2"}));

    EXPECT_EQ(q(jet::kClub, {"12"}).rows, (std::vector<Strings>{{"12", "Schützenverein Weiß"}}));
    EXPECT_TRUE(q(jet::kClub, {"99"}).rows.empty());
    // Weiß and Weiss are equal surnames: the first name decides
    EXPECT_EQ(q(jet::kClubShooters, {"12"}).column(0), (Strings{"106", "107", "105"}));
    EXPECT_EQ(q(jet::kClubShooters, {"1"}).column(0), (Strings{"108", "102", "101"}));
}

TEST_F(JetStatements, NameIndex) {
    EXPECT_EQ(q(jet::kNamesByInitial, {"M%"}).column(0), (Strings{"102", "101"}));
    EXPECT_EQ(q(jet::kNamesByInitial, {"a%"}).column(0), (Strings{"108", "104"}));  // not Ärger
    EXPECT_EQ(q(jet::kNamesByInitial, {"\xC3\x84%"}).column(0), (Strings{"103"}));  // "Ä%"
    EXPECT_TRUE(q(jet::kNamesByInitial, {"Ö%"}).rows.empty());                     // club 99 is missing
    EXPECT_EQ(q(jet::kNamesByInitial, {"%"}).rows.size(), 8u);
    EXPECT_EQ(q(jet::kNamesByInitial, {"w%"}).column(0), (Strings{"106", "107"}));
}

TEST_F(JetStatements, ShooterAndTargetPages) {
    Rows s = q(jet::kShooter, {"101"});
    ASSERT_EQ(s.rows.size(), 1u);
    EXPECT_EQ(s.rows[0], (Strings{"101", "Müller", "Hans", "SV Adler", "1"}));
    EXPECT_TRUE(q(jet::kShooter, {"999"}).rows.empty());

    Rows t = q(jet::kTargets, {"101"});
    // scheiben.* has 47 columns, then Bezeichnung, Teilermessung, Sch_id again and DP_ID
    ASSERT_EQ(t.names.size(), 51u);
    EXPECT_EQ(t.names[0], "Sch_id");
    EXPECT_EQ(t.names[49], "Sch_id");
    EXPECT_EQ(t.column(49), (Strings{"5002", "5001", "5000"}));  // Königsscheibe first, then by pos
    EXPECT_EQ(t.column(48), (Strings{"Blattl", "Zehntel", "Zehntel"}));

    EXPECT_EQ(q(jet::kTeamRanks, {"101"}).column(0), (Strings{"2"}));
    EXPECT_EQ(q(jet::kSingleRanks, {"101"}).column(0), (Strings{"1"}));
    EXPECT_TRUE(q(jet::kSingleRanks, {"106"}).rows.empty());  // its list is hidden
    EXPECT_EQ(q(jet::kSingleRanks, {"105"}).column(0), (Strings{"4"}));  // selekt 0 is shown

    EXPECT_EQ(q(jet::kTargetType, {"2"}).rows.at(0).at(2), "Luftgewehr");
    EXPECT_EQ(q(jet::kHits, {"5000"}).rows.at(0).at(1), "98.5");
}

TEST_F(JetStatements, ResultAndTeamPages) {
    EXPECT_EQ(q(jet::kList, {"1"}).rows.at(0).at(1), "Luftgewehr Einzel");
    Rows l = q(jet::kListRanks, {"1"});
    EXPECT_EQ(l.column(1), (Strings{"103", "101"}));
    EXPECT_EQ(l.names.back(), "Vereinsnr");

    EXPECT_EQ(q(jet::kTeamMode, {"2"}).rows, (std::vector<Strings>{{"Mannschaft LG", "2"}}));
    EXPECT_TRUE(q(jet::kTeamMode, {"1"}).rows.empty());
    EXPECT_EQ(q(jet::kTeams, {"2"}).column(2), (Strings{"101", "102", "108"}));

    EXPECT_EQ(q(jet::kClubTeamLists, {"1", "2"}).rows, (std::vector<Strings>{{"2", "Mannschaft LG"}}));
    EXPECT_TRUE(q(jet::kClubTeamLists, {"1", "3"}).rows.empty());
    EXPECT_EQ(q(jet::kClubTeamListsAll, {"1"}).rows.size(), 1u);
    EXPECT_TRUE(q(jet::kClubTeamListsAll, {"12"}).rows.empty());
    EXPECT_EQ(q(jet::kClubTeams, {"1", "2"}).column(3), (Strings{"101", "102", "108"}));

    EXPECT_EQ(q(jet::kTeamLists).column(0), (Strings{"2"}));
    EXPECT_EQ(q(jet::kSingleLists).column(0), (Strings{"4", "1"}));  // "älteste" sorts with a
}

TEST_F(JetStatements, UploadStatements) {
    const Strings by_name{"108", "104", "103", "102", "101", "109", "106", "107", "105"};
    EXPECT_EQ(q(jet::kUploadDesign).column(0), by_name);
    Rows s = q(jet::kUploadStarter);
    EXPECT_EQ(s.column(0), by_name);
    EXPECT_EQ(s.column(6), Strings(9, "0"));
    EXPECT_EQ(q(jet::kUploadStarterWithResults).column(0), (Strings{"103", "101"}));
    EXPECT_EQ(q(jet::kUploadRaenge).rows.size(), 7u);
    EXPECT_EQ(q(jet::kUploadVerein).column(0), (Strings{"1", "12", "2", "3"}));  // text order
    EXPECT_EQ(q(jet::kUploadErgebnis).column(0), (Strings{"1000", "1001", "1002"}));
    EXPECT_EQ(q(jet::kUploadZuordnung).rows.size(), 4u);
    Rows sc = q(jet::kUploadScheiben);
    EXPECT_EQ(sc.names.size(), 32u);
    EXPECT_EQ(sc.column(0), (Strings{"5000", "5001", "5002", "5003"}));
    EXPECT_EQ(q(jet::kUploadWettk).column(0), (Strings{"1", "2", "3"}));
    EXPECT_EQ(q(jet::kUploadWettbDef).column(0), (Strings{"1", "2", "4"}));
    Rows o = q(jet::kUploadWettbOptDef);
    EXPECT_EQ(o.names.at(2), "_Option");
    EXPECT_EQ(o.column(2), (Strings{"MANNMODE", "anzeige"}));
    EXPECT_EQ(q(jet::kUploadMannTeiln).rows.size(), 3u);
    EXPECT_EQ(q(jet::kUploadMannschaft).rows.size(), 1u);
    Rows v = q(jet::kUploadVeranstaltung);
    EXPECT_EQ(v.names.at(1), "_option");
    EXPECT_EQ(v.column(1), (Strings{"itdatum", "Titel"}));
}

// A statement naming a table or column the file lacks fails when it is prepared.
TEST_F(JetStatements, MissingTableOrColumnFails) {
    EXPECT_THROW(q("SELECT * FROM gibtsnicht"), std::runtime_error);
    EXPECT_THROW(q("SELECT Startnr, Gibtsnicht FROM starter"), std::runtime_error);
    EXPECT_THROW(q("SELECT [Gibts nicht] FROM starter"), std::runtime_error);
}
