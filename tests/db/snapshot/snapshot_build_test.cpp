// The snapshot image: tables, declared types, values, NULLs and Jet's text order.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

#include "common/sqlite.h"
#include "db/mdbread/page_reader.h"
#include "db/snapshot/snapshot_build.h"
#include "db/sql/jet_functions.h"
#include "snapshot_test_util.h"
#include "tools/mkdemo/demo.h"

namespace ringolan::db::test {
namespace {

using jet::ColumnType;

// The text SQLite gives for a value inserted as the snapshot should insert it.
std::string expected_text(const jet::Value& v) {
    struct V {
        std::string operator()(jet::Null) const { return "NULL"; }
        std::string operator()(bool b) const { return b ? "-1" : "0"; }
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return real(d); }
        std::string operator()(jet::Currency c) const { return real(double(c.scaled) / 10000.0); }
        std::string operator()(jet::DateTime d) const { return real(d.days); }
        std::string operator()(const std::string& s) const { return s; }
        // SQLite prints reals with "%!.15g"; a whole value kept as integer prints without ".0".
        static std::string real(double d) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", d);
            std::string s = buf;
            return s;
        }
    };
    return std::visit(V{}, v);
}

// Numbers compare as numbers (SQLite writes "12.0" where printf writes "12").
bool same_cell(const std::string& got, const std::string& want, const jet::Value& v) {
    if (std::holds_alternative<double>(v) || std::holds_alternative<jet::Currency>(v) ||
        std::holds_alternative<jet::DateTime>(v)) {
        if (got == "NULL") return false;
        return std::stod(got) == std::stod(want);
    }
    return got == want;
}

class DemoSnapshot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        demo::DemoOptions opt;
        opt.shooters = 300;
        opt.seed = 7;
        tables_ = new std::vector<demo::DemoTable>(demo::make_demo(opt));
        demo::write_demo(*tables_, *dir_ / "demo.mdb");
        db_ = new ImageDb(build_snapshot_image(*dir_ / "demo.mdb"));
    }
    static void TearDownTestSuite() {
        delete db_;
        delete tables_;
        delete dir_;
    }
    static inline TempDir* dir_ = nullptr;
    static inline std::vector<demo::DemoTable>* tables_ = nullptr;
    static inline ImageDb* db_ = nullptr;
};

// The largest table is built on a thread of its own: a page of it that cannot be read fails
// the whole build, naming the file, as a page of any other table does.
TEST_F(DemoSnapshot, ADamagedPageOfTheLargestTableFailsTheBuild) {
    const fs::path damaged = *dir_ / "damaged.mdb";
    fs::copy_file(*dir_ / "demo.mdb", damaged, fs::copy_options::overwrite_existing);
    uint32_t page = 0;
    {
        mdbread::PageReader reader(damaged);
        const mdbread::TableLayout* largest = nullptr;
        for (const auto& table : reader.tables())
            if (!largest || table.data_pages.size() > largest->data_pages.size()) largest = &table;
        ASSERT_GE(largest->data_pages.size(), 16u) << "too small to be built beside the others";
        page = largest->data_pages[largest->data_pages.size() / 2];
    }
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(std::streamoff(page) * 4096 + 14);  // the first row's offset: beyond the page
        file.write("\xff\x1f", 2);
    }
    try {
        build_snapshot_image(damaged);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("damaged.mdb"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("page " + std::to_string(page)), std::string::npos) << e.what();
    }
}

TEST_F(DemoSnapshot, EveryTableWithItsColumnsInOrder) {
    const auto names = column(db_->db, "SELECT name FROM sqlite_schema WHERE type='table' AND substr(name, 1, 7) <> 'sqlite_' ORDER BY rowid");
    ASSERT_EQ(names.size(), tables_->size());
    for (size_t t = 0; t < tables_->size(); ++t) {
        const auto& table = (*tables_)[t];
        EXPECT_EQ(names[t], table.name);
        const auto cols = rows(db_->db, "SELECT name, type FROM pragma_table_info('" + table.name + "') ORDER BY cid");
        ASSERT_EQ(cols.size(), table.columns.size()) << table.name;
        for (size_t c = 0; c < cols.size(); ++c) {
            EXPECT_EQ(cols[c][0], table.columns[c].name);
            EXPECT_EQ(cols[c][1], declared_type(table.columns[c].type));
        }
    }
}

TEST_F(DemoSnapshot, EveryValueAsGenerated) {
    for (const auto& table : *tables_) {
        const auto got = rows(db_->db, "SELECT * FROM \"" + table.name + "\" ORDER BY rowid");
        ASSERT_EQ(got.size(), table.rows.size()) << table.name;
        size_t mismatches = 0;
        for (size_t r = 0; r < got.size(); ++r) {
            for (size_t c = 0; c < table.columns.size(); ++c) {
                const auto& v = table.rows[r][c];
                if (!same_cell(got[r][c], expected_text(v), v) && ++mismatches <= 5) {
                    ADD_FAILURE() << table.name << " row " << r << " column " << table.columns[c].name << ": got "
                                  << got[r][c] << ", want " << expected_text(v);
                }
            }
        }
        EXPECT_EQ(mismatches, 0u) << table.name;
    }
}

TEST_F(DemoSnapshot, YesNoAsMinusOneAndZeroAndNullsKept) {
    // Team lists are exactly the yes rows of wettb_def.mannschaft.
    size_t teams = 0, lists = 0;
    for (const auto& t : *tables_) {
        if (t.name != "wettb_def") continue;
        for (const auto& r : t.rows) {
            ++lists;
            teams += std::get<bool>(r[4]) ? 1 : 0;
        }
    }
    ASSERT_GT(teams, 0u);
    EXPECT_EQ(scalar(db_->db, "SELECT count(*) FROM wettb_def WHERE mannschaft=-1"), std::to_string(teams));
    EXPECT_EQ(scalar(db_->db, "SELECT count(*) FROM wettb_def WHERE mannschaft=0"), std::to_string(lists - teams));
    EXPECT_EQ(scalar(db_->db, "SELECT count(*) FROM wettb_def WHERE mannschaft NOT IN (-1, 0)"), "0");
    // Guests have no first name: NULL, not "".
    EXPECT_NE(scalar(db_->db, "SELECT count(*) FROM starter WHERE Vorname IS NULL"), "0");
    EXPECT_EQ(scalar(db_->db, "SELECT count(*) FROM starter WHERE Vorname = ''"), "0");
    size_t null_selekt = 0;
    for (const auto& t : *tables_) {
        if (t.name == "wettb_def") {
            for (const auto& r : t.rows) null_selekt += std::holds_alternative<jet::Null>(r[5]) ? 1 : 0;
        }
    }
    ASSERT_GT(null_selekt, 0u);
    EXPECT_EQ(scalar(db_->db, "SELECT count(*) FROM wettb_def WHERE selekt IS NULL"), std::to_string(null_selekt));
}

TEST_F(DemoSnapshot, JoinsGiveTheSameRowsWithIndexesAndWithout) {
    const std::string sql =
        "SELECT s.Startnr, v.Name, count(*) FROM starter s, verein v, ergebnis e, zuordnung z, scheiben sc "
        "WHERE s.Vereinsnr = v.Vereinsnr AND e.Startnr = s.Startnr AND z.Erg_id = e.Erg_id "
        "AND sc.Sch_id = z.Scheiben_id GROUP BY s.Startnr, v.Name ORDER BY s.Startnr";
    BuildOptions plain;
    plain.indexes = false;
    ImageDb without(build_snapshot_image(*dir_ / "demo.mdb", plain));
    EXPECT_EQ(scalar(without.db, "SELECT count(*) FROM sqlite_schema WHERE type='index'"), "0");
    EXPECT_NE(scalar(db_->db, "SELECT count(*) FROM sqlite_schema WHERE type='index'"), "0");
    const auto a = rows(db_->db, sql);
    EXPECT_GT(a.size(), 200u);
    EXPECT_EQ(a, rows(without.db, sql));
}

class OwnFile : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(OwnFile, DeclaredTypesAndStoredValues) {
    const std::vector<jet::Column> cols = {
        {"b", ColumnType::Boolean}, {"y", ColumnType::Byte},     {"i", ColumnType::Integer},
        {"l", ColumnType::Long},    {"c", ColumnType::Currency}, {"f", ColumnType::Single},
        {"d", ColumnType::Double},  {"t", ColumnType::DateTime}, {"s", ColumnType::Text, 20},
        {"m", ColumnType::Memo}};
    write_table(dir / "t.mdb", "alle typen", cols,
                {{true, int64_t(200), int64_t(-300), int64_t(-70000), jet::Currency{123456}, 0.5, 1.0 / 3,
                  jet::make_datetime(2024, 3, 1, 18, 0, 0), std::string("0123"), std::string("007")},
                 {false, jet::Null{}, jet::Null{}, jet::Null{}, jet::Null{}, jet::Null{}, jet::Null{}, jet::Null{},
                  std::string(""), jet::Null{}}});
    ImageDb img(build_snapshot_image(dir / "t.mdb"));
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(img.db, "SELECT * FROM \"alle typen\"", -1, &st, nullptr), SQLITE_OK);
    const sqlite::StmtHandle guard(st);
    const char* types[] = {"BOOLEAN", "BYTE", "SMALLINT", "LONG", "CURRENCY", "SINGLE",
                           "DOUBLE", "DATETIME", "TEXT", "MEMO TEXT"};
    for (int i = 0; i < 10; ++i) EXPECT_STREQ(sqlite3_column_decltype(st, i), types[i]) << i;

    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), -1);
    EXPECT_EQ(sqlite3_column_int(st, 1), 200);
    EXPECT_EQ(sqlite3_column_int(st, 2), -300);
    EXPECT_EQ(sqlite3_column_int(st, 3), -70000);
    EXPECT_DOUBLE_EQ(sqlite3_column_double(st, 4), 12.3456);
    EXPECT_DOUBLE_EQ(sqlite3_column_double(st, 5), 0.5);
    EXPECT_DOUBLE_EQ(sqlite3_column_double(st, 6), 1.0 / 3);
    // 2024-03-01 is day 45352 after 1899-12-30; 18:00 is three quarters of a day.
    EXPECT_DOUBLE_EQ(sqlite3_column_double(st, 7), 45352.75);
    // Digits in text columns stay text with their leading zeros.
    EXPECT_EQ(sqlite3_column_type(st, 8), SQLITE_TEXT);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 8)), "0123");
    EXPECT_EQ(sqlite3_column_type(st, 9), SQLITE_TEXT);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 9)), "007");

    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 0);
    for (int i = 1; i < 8; ++i) EXPECT_EQ(sqlite3_column_type(st, i), SQLITE_NULL) << i;
    EXPECT_EQ(sqlite3_column_type(st, 8), SQLITE_TEXT);  // "" is not NULL
    EXPECT_EQ(sqlite3_column_type(st, 9), SQLITE_NULL);
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
}

TEST_F(OwnFile, TextColumnsUseJetOrder) {
    std::vector<jet::Row> names;
    for (const char* n : {"Zander", "Ärger", "Bauer", "arger", "BAUER", "Ödland", "Nagel", "Peter", "Anton", "bauer"}) {
        names.push_back({std::string(n), std::string(n)});
    }
    write_table(dir / "n.mdb", "namen", {{"name", ColumnType::Text, 30}, {"notiz", ColumnType::Memo}}, names);
    ImageDb img(build_snapshot_image(dir / "n.mdb"));
    auto order = column(img.db, "SELECT name FROM namen ORDER BY name");
    ASSERT_EQ(order.size(), 10u);
    // Letter case ignored, umlauts with their base letter: Ärger and arger lie between Anton and
    // Bauer, Ödland between Nagel and Peter.
    auto pos = [&](const std::string& n) { return std::find(order.begin(), order.end(), n) - order.begin(); };
    EXPECT_EQ(pos("Anton"), 0);
    EXPECT_TRUE((pos("Ärger") == 1 && pos("arger") == 2) || (pos("Ärger") == 2 && pos("arger") == 1));
    EXPECT_EQ(pos("Nagel"), 6);
    EXPECT_EQ(pos("Ödland"), 7);
    EXPECT_EQ(pos("Peter"), 8);
    EXPECT_EQ(pos("Zander"), 9);
    EXPECT_EQ(column(img.db, "SELECT name FROM namen ORDER BY notiz DESC LIMIT 1"), std::vector<std::string>{"Zander"});
    // =, GROUP BY and DISTINCT ignore letter case.
    EXPECT_EQ(scalar(img.db, "SELECT count(*) FROM namen WHERE name = 'bAuEr'"), "3");
    EXPECT_EQ(scalar(img.db, "SELECT count(*) FROM namen WHERE notiz = 'ZANDER'"), "1");
    EXPECT_EQ(scalar(img.db, "SELECT count(*) FROM (SELECT name FROM namen GROUP BY name)"),
              scalar(img.db, "SELECT count(DISTINCT name) FROM namen"));
    EXPECT_EQ(scalar(img.db, "SELECT count(*) FROM namen GROUP BY name HAVING count(*) = 3"), "3");
}

TEST_F(OwnFile, NamesThatNeedQuoting) {
    write_table(dir / "q.mdb", "Tab \"1\"", {{"Spalte \"a\"", ColumnType::Long}, {"select", ColumnType::Long}},
                {{int64_t(1), int64_t(2)}});
    ImageDb img(build_snapshot_image(dir / "q.mdb"));
    EXPECT_EQ(rows(img.db, "SELECT \"Spalte \"\"a\"\"\", \"select\" FROM \"Tab \"\"1\"\"\""),
              (std::vector<std::vector<std::string>>{{"1", "2"}}));
}

TEST_F(OwnFile, UnreadableFilesThrowNamingTheFile) {
    const fs::path missing = dir / "fehlt.mdb";
    try {
        build_snapshot_image(missing);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace ringolan::db::test
