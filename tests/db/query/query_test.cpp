#include "db/query/query.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/db/sql/jet_statements.h"
#include "tests/db/sql/jet_test_db.h"

using namespace ringolan::testing;
using namespace ringolan::db;

namespace {

using Strings = std::vector<std::string>;

class QueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        create_schema(db.get());
        fill_competition(db.get());
    }
    // Opens `a` on the test database.
    void open(Query& a, const char* jet, std::vector<Param> params = {}) {
        a.close();
        a.set_command(jet);
        a.open(db.get(), std::move(params));
    }
    Strings texts(Query& a, const char* field) {
        Strings out;
        for (a.first(); !a.at_end(); a.next()) out.push_back(a.field(field).as_text());
        return out;
    }
    DbPtr db = open_jet_db();
};

std::string error_of(auto&& f) {
    try {
        f();
    } catch (const QueryError& e) {
        return e.what();
    }
    return "(no QueryError)";
}

}  // namespace

// The target statement selects scheiben.* and scheiben.Sch_id again.
TEST_F(QueryTest, FieldLookupByNameQualifiedAndCaseless) {
    Query a;
    open(a, jet::kTargets, {"101"});
    ASSERT_EQ(a.field_count(), 51u);
    EXPECT_EQ(a.field("scheiben.sch_id").as_text(), "5002");
    EXPECT_EQ(a.field("SCHEIBEN.SCH_ID").as_text(), "5002");
    EXPECT_EQ(a.field("Sch_id").as_text(), "5002");  // the bare name: its first occurrence
    EXPECT_EQ(a.field("Sch_id").name(), "Sch_id");
    EXPECT_EQ(a.field("dp_id").as_text(), "2");
    EXPECT_EQ(a.field("wettk.DP_ID").as_text(), "2");
    EXPECT_EQ(a.field("bezeichnung").as_text(), "K\xF6nigsscheibe");  // Windows-1252
    EXPECT_EQ(a.field("Teilermessung").as_text(), "Blattl");
    EXPECT_EQ(a.field("T1").as_int(), 12);
    EXPECT_EQ(a.field("T2").as_int(), 0);  // NULL
    EXPECT_EQ(a.field("summe").as_real(), 50.0);
    const std::string e = error_of([&] { a.field("Gibtsnicht"); });
    EXPECT_NE(e.find("Feld 'Gibtsnicht' nicht gefunden"), std::string::npos) << e;
    EXPECT_NE(error_of([&] { a.field("verein.Sch_id"); }).find("verein.Sch_id"), std::string::npos);
    EXPECT_THROW(a.field(size_t(51)), QueryError);
    EXPECT_EQ(a.field(size_t(0)).name(), "Sch_id");

    // a name that two tables supply: the bare name is the first, qualified names tell them apart
    Query b;
    open(b, "SELECT verein.Name, mannschaft.Name FROM verein, mannschaft WHERE verein.Vereinsnr = mannschaft.vereinsnr");
    EXPECT_EQ(b.field("name").as_text(), "SV Adler");
    EXPECT_EQ(b.field("verein.name").as_text(), "SV Adler");
    EXPECT_EQ(b.field("mannschaft.name").as_text(), "Adler I");
}

TEST_F(QueryTest, ReadingsAsTextRealAndWholeNumber) {
    Query a;
    open(a, jet::kListRanks, {"1"});
    a.next();  // shooter 101, rank 2
    EXPECT_EQ(a.field("Startnr").as_text(), "101");
    EXPECT_EQ(a.field("Rang").as_text(), "2");
    EXPECT_EQ(a.field("E1").as_text(), "380,5");
    EXPECT_EQ(a.field("E2").as_text(), "95,25");
    EXPECT_EQ(a.field("E3").as_text(), "0,05");
    EXPECT_EQ(a.field("E4").as_text(), "100,04");
    EXPECT_EQ(a.field("E5").as_text(), "10000");
    EXPECT_EQ(a.field("E2").as_real(), 95.25);
    EXPECT_EQ(a.field("Nachname").as_text(), "M\xFCller");
    EXPECT_EQ(a.field("Vorname").type(), FieldType::Text);
    EXPECT_EQ(a.field("Rang").type(), FieldType::Integer);
    EXPECT_EQ(a.field("E1").type(), FieldType::Real);
    // NULL: "" and 0
    EXPECT_TRUE(a.field("E6").is_null());
    EXPECT_EQ(a.field("E6").as_text(), "");
    EXPECT_EQ(a.field("E6").as_real(), 0.0);
    EXPECT_EQ(a.field("E6").as_int(), 0);
    EXPECT_EQ(a.field("TeilErg").as_text(), "");
    // reals to whole numbers: half to even
    EXPECT_EQ(a.field("HauptErg").as_int(), 380);  // 380.5
    a.first();
    EXPECT_EQ(a.field("HauptErg").as_int(), 390);  // 390.1
    open(a, jet::kListRanks, {"2"});
    EXPECT_EQ(a.field("HauptErg").as_int(), 100);  // 99.5
}

TEST_F(QueryTest, YesNoDatesCurrencyAndMemo) {
    Query a;
    open(a, "SELECT * FROM wettb_def ORDER BY ID");
    EXPECT_EQ(texts(a, "mannschaft"), (Strings{"Falsch", "Wahr", "Falsch", "Falsch"}));
    EXPECT_EQ(texts(a, "zeitstempel"), (Strings{"15.03.2023 12:00:00", "15.03.2023", "15.03.2023", "15.03.2023"}));
    EXPECT_EQ(texts(a, "selekt"), (Strings{"", "", "1", "0"}));
    a.first();
    a.next();
    EXPECT_EQ(a.field("mannschaft").as_int(), -1);
    EXPECT_EQ(a.field("mannschaft").type(), FieldType::Boolean);
    EXPECT_EQ(a.field("zeitstempel").type(), FieldType::DateTime);
    EXPECT_EQ(a.field("zeitstempel").as_real(), 45000.0);

    open(a, jet::kUploadMannschaft);
    EXPECT_EQ(a.field("Preis").type(), FieldType::Currency);
    EXPECT_EQ(a.field("Preis").as_text(), "12,5");
    EXPECT_EQ(a.field("MErgebnis").as_text(), "197,5");

    open(a, jet::kUploadVeranstaltung);
    EXPECT_EQ(a.field("_option").as_text(), "itdatum");
    EXPECT_EQ(a.field("bemerkung").type(), FieldType::Memo);
    EXPECT_EQ(a.field("Wert_int").type(), FieldType::Integer);

    open(a, jet::kUploadWettk);
    EXPECT_EQ(a.field("zehnerserien").type(), FieldType::Integer);  // BYTE
    EXPECT_EQ(a.field("zehnerserien").as_text(), "4");
}

// The Jet type word of each column survives aliases, "*", DISTINCT and joins; computed columns have none.
TEST_F(QueryTest, DeclaredJetTypeOfColumns) {
    Query a;
    auto words = [&] {
        Strings out;
        for (size_t i = 0; i < a.field_count(); ++i) out.push_back(a.field(i).declared_type());
        return out;
    };
    open(a, jet::kUploadWettk);
    EXPECT_EQ(words(), (Strings{"LONG", "TEXT", "TEXT", "BYTE", "TEXT"}));
    open(a, jet::kUploadZuordnung);
    EXPECT_EQ(words(), (Strings{"LONG", "LONG", "SMALLINT", "SMALLINT", "DATETIME"}));
    open(a, jet::kUploadVeranstaltung);
    EXPECT_EQ(words(), (Strings{"LONG", "TEXT", "LONG", "TEXT", "DOUBLE", "MEMO"}));
    open(a, jet::kUploadMannschaft);
    EXPECT_EQ(a.field("Preis").declared_type(), "CURRENCY");
    open(a, jet::kUploadStarterWithResults);
    EXPECT_EQ(words(), (Strings{"LONG", "TEXT", "TEXT", "TEXT", "TEXT", "TEXT", ""}));
    open(a, jet::kUploadWettbDef);
    EXPECT_EQ(a.field("mannschaft").declared_type(), "BOOLEAN");
    a.close();
    EXPECT_EQ(a.field_count(), 0u);
}

// Computed columns take their type from the values.
TEST_F(QueryTest, ComputedColumnTypes) {
    Query a;
    open(a, jet::kClubCounts);
    EXPECT_EQ(a.field("Anzahl").type(), FieldType::Integer);
    EXPECT_EQ(a.field("anzahl").as_text(), "3");
    open(a, "SELECT 0, 1.5, \"x\", NULL FROM verein");
    EXPECT_EQ(a.field(size_t(0)).type(), FieldType::Integer);
    EXPECT_EQ(a.field(size_t(1)).type(), FieldType::Real);
    EXPECT_EQ(a.field(size_t(1)).as_text(), "1,5");
    EXPECT_EQ(a.field(size_t(2)).type(), FieldType::Text);
    EXPECT_EQ(a.field(size_t(3)).type(), FieldType::Null);
}

TEST_F(QueryTest, CursorMovesLikeAStaticDataset) {
    Query a;
    EXPECT_FALSE(a.is_open());
    EXPECT_TRUE(a.at_end());
    EXPECT_THROW(a.field("Startnr"), QueryError);
    open(a, jet::kClubShooters, {"12"});
    EXPECT_TRUE(a.is_open());
    EXPECT_EQ(a.row_count(), 3u);
    Strings seen;
    while (!a.at_end()) {
        seen.push_back(a.field("startnr").as_text());
        a.next();
    }
    EXPECT_EQ(seen, (Strings{"106", "107", "105"}));
    // past the end the last row stays readable, next() does nothing
    EXPECT_EQ(a.field("Startnr").as_text(), "105");
    a.next();
    EXPECT_TRUE(a.at_end());
    EXPECT_EQ(a.field("Startnr").as_text(), "105");
    a.first();
    EXPECT_FALSE(a.at_end());
    EXPECT_EQ(a.field("Startnr").as_text(), "106");
    // an empty result: at end at once, fields read as NULL but must exist
    open(a, jet::kTeamMode, {"1"});
    EXPECT_TRUE(a.at_end());
    EXPECT_EQ(a.field("titel").as_text(), "");
    EXPECT_EQ(a.field("Wert_in").as_int(), 0);
    EXPECT_THROW(a.field("Wert_out"), QueryError);
    // a field kept across close() reads NULL instead of touching freed rows
    open(a, jet::kClubShooters, {"12"});
    const Field kept = a.field("Vorname");
    EXPECT_EQ(kept.as_text(), "Ida");
    a.close();
    a.close();
    EXPECT_FALSE(a.is_open());
    EXPECT_TRUE(a.at_end());
    EXPECT_EQ(kept.as_text(), "");
    EXPECT_EQ(kept.type(), FieldType::Null);
}

// Two query objects open on one connection at once, the inner one reopened for each outer row.
TEST_F(QueryTest, TwoQueriesOnOneConnection) {
    Query a1, a2;
    open(a1, "SELECT Vereinsnr FROM verein ORDER BY Vereinsnr");
    Strings seen;
    for (; !a1.at_end(); a1.next()) {
        open(a2, jet::kClubShooters, {a1.field("Vereinsnr").as_text()});
        seen.push_back(a1.field("Vereinsnr").as_text() + ":" + std::to_string(a2.row_count()));
    }
    EXPECT_EQ(seen, (Strings{"1:3", "12:3", "2:2", "3:0"}));
}

TEST_F(QueryTest, ParametersAreBoundNeverSpliced) {
    Query a;
    open(a, jet::kNamesByInitial, {"M\xFC%"});  // "Mü%" in Windows-1252
    EXPECT_EQ(texts(a, "startnr"), (Strings{"101"}));
    open(a, jet::kClubShooters, {"\"; DROP TABLE starter; --"});
    EXPECT_EQ(a.row_count(), 0u);
    open(a, jet::kClub, {"Sch\xFCtzen' OR '1'='1"});
    EXPECT_EQ(a.row_count(), 0u);
    // a whole number bound to a text column and a text bound to a number column
    open(a, jet::kClub, {int64_t(12)});
    EXPECT_EQ(a.field("Name").as_text(), "Sch\xFCtzenverein Wei\xDF");
    open(a, jet::kShooter, {"103"});
    EXPECT_EQ(a.field("nachname").as_text(), "\xC4rger");
    open(a, jet::kShooter, {103.0});
    EXPECT_EQ(a.field("nachname").as_text(), "\xC4rger");
    // text parameter compared with the collation of the column
    open(a, "SELECT Startnr FROM starter WHERE Nachname = ? ORDER BY Startnr", {"WEISS"});
    EXPECT_EQ(texts(a, "Startnr"), (Strings{"106", "107"}));
}

TEST_F(QueryTest, ErrorsNameTheProblemAndTheStatement) {
    Query a;
    a.set_command("SELECT * FROM gibtsnicht");
    std::string e = error_of([&] { a.open(db.get()); });
    EXPECT_NE(e.find("no such table: gibtsnicht"), std::string::npos) << e;
    EXPECT_NE(e.find("SELECT * FROM gibtsnicht"), std::string::npos) << e;
    EXPECT_FALSE(a.is_open());

    a.set_command(jet::kShooter);
    e = error_of([&] { a.open(db.get()); });
    EXPECT_NE(e.find("erwartet 1 Werte, erhalten 0"), std::string::npos) << e;
    e = error_of([&] { a.open(db.get(), {"1", "2"}); });
    EXPECT_NE(e.find("erwartet 1 Werte, erhalten 2"), std::string::npos) << e;

    a.set_command("SELECT a & b FROM verein");
    EXPECT_THROW(a.open(db.get()), QueryError);
    EXPECT_FALSE(a.is_open());

    // an open query fails its reopen: it is closed afterwards
    open(a, jet::kClub, {"1"});
    a.set_command("SELECT Gibtsnicht FROM verein");
    EXPECT_THROW(a.open(db.get()), QueryError);
    EXPECT_FALSE(a.is_open());

    open(a, "SELECT Name FROM verein");
    EXPECT_THROW(a.field("Name").as_real(), QueryError);  // "SV Adler" is no number
    open(a, "SELECT Vereinsnr FROM verein ORDER BY Vereinsnr");
    EXPECT_EQ(a.field("Vereinsnr").as_int(), 1);
}

// Several threads, each with its own connection, share the translation cache.
TEST_F(QueryTest, ThreadsShareTheTranslationCache) {
    auto work = [](bool* ok) {
        DbPtr own = open_jet_db();
        create_schema(own.get());
        fill_competition(own.get());
        for (int i = 0; i < 50; ++i) {
            Query a;
            a.set_command(i % 2 ? jet::kClubShooters : jet::kNamesByInitial);
            a.open(own.get(), {i % 2 ? "12" : "w%"});
            Strings got;
            for (; !a.at_end(); a.next()) got.push_back(a.field("Startnr").as_text());
            if (got != (i % 2 ? Strings{"106", "107", "105"} : Strings{"106", "107"})) *ok = false;
        }
    };
    bool ok[4] = {true, true, true, true};
    std::vector<std::thread> threads;
    for (bool& o : ok) threads.emplace_back(work, &o);
    for (auto& t : threads) t.join();
    for (bool o : ok) EXPECT_TRUE(o);
}

// The same through a snapshot: the query takes a pooled connection for the open.
TEST_F(QueryTest, OpensOnASnapshot) {
    sqlite3_int64 size = 0;
    unsigned char* bytes = sqlite3_serialize(db.get(), "main", &size, 0);
    ASSERT_NE(bytes, nullptr);
    std::vector<uint8_t> image(bytes, bytes + size);
    sqlite3_free(bytes);
    auto snapshot = Snapshot::from_image(std::move(image), SnapshotInfo{});
    Query a1, a2;
    a1.set_command(jet::kClubShooters);
    a1.open(*snapshot, {"1"});
    a2.set_command(jet::kNamesByInitial);
    a2.open(*snapshot, {"\xC4%"});
    EXPECT_EQ(texts(a1, "Nachname"), (Strings{"abel", "muller", "M\xFCller"}));
    EXPECT_EQ(texts(a2, "Nachname"), (Strings{"\xC4rger"}));
}
