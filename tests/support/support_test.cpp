// Tests of the read-back helpers: canonical forms, the mdb-export view, the difference report
// and the three readers on files from mdb-reader's own test suite.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "common/calendar.h"
#include "tests/support/read_back.h"

namespace fs = std::filesystem;
using namespace ringolan;
using namespace ringolan::readback;
using jet::ColumnType;

namespace {

fs::path data_file(const char* name) { return fs::path(RINGOLAN_BINARY_DIR) / "tests/data/mdb-reader-V2000" / name; }

std::vector<CanonTable> only(std::vector<CanonTable> tables, const std::vector<std::string>& names) {
    std::erase_if(tables, [&](const CanonTable& t) { return std::find(names.begin(), names.end(), t.name) == names.end(); });
    return tables;
}

std::vector<std::string> names_of(const std::vector<CanonTable>& tables) {
    std::vector<std::string> names;
    for (const auto& t : tables) names.push_back(t.name);
    return names;
}

// Failures that expect_same_tables reports, captured instead of failing this test.
std::vector<std::string> reported(const std::vector<CanonTable>& expected, const std::vector<CanonTable>& actual) {
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter reporter(testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                                                           &results);
        expect_same_tables(expected, actual, "probe");
    }
    std::vector<std::string> messages;
    for (int i = 0; i < results.size(); ++i) messages.push_back(results.GetTestPartResult(i).message());
    return messages;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) ++n;
    return n;
}

// Table1 of test.mdb as mdb-reader's test suite states it (dates there as epoch milliseconds:
// 148953600000 = 1974-09-21, 376963200000 = 1981-12-12).
ExpectedTable table1() {
    return {"Table1",
            {{"A", ColumnType::Text, 50},
             {"B", ColumnType::Text, 100},
             {"C", ColumnType::Byte},
             {"D", ColumnType::Integer},
             {"E", ColumnType::Long},
             {"F", ColumnType::Double},
             {"G", ColumnType::DateTime},
             {"H", ColumnType::Currency},
             {"I", ColumnType::Boolean}},
            {{std::string("abcdefg"), std::string("hijklmnop"), int64_t{2}, int64_t{222}, int64_t{333333333}, 444.555,
              jet::DateTime{calendar::kUnixEpochDay + 148953600000.0 / 86400000.0}, jet::Currency{35000}, true},
             {std::string("a"), std::string("b"), int64_t{0}, int64_t{0}, int64_t{0}, 0.0,
              jet::DateTime{calendar::kUnixEpochDay + 376963200000.0 / 86400000.0}, jet::Currency{0}, false}}};
}

ExpectedTable table2() {
    ExpectedTable t{"Table2", {}, {}};
    for (int i = 1; i <= 89; ++i) t.columns.push_back({"column" + std::to_string(i), ColumnType::Text, 50});
    return t;
}

}  // namespace

TEST(Canonical, FormsOfEveryKindOfValue) {
    EXPECT_EQ(canonical(jet::Null{}, ColumnType::Text), "NULL");
    EXPECT_EQ(canonical(jet::Null{}, ColumnType::Long), "NULL");
    EXPECT_EQ(canonical(true, ColumnType::Boolean), "true");
    EXPECT_EQ(canonical(false, ColumnType::Boolean), "false");
    EXPECT_EQ(canonical(int64_t{-32768}, ColumnType::Integer), "-32768");
    EXPECT_EQ(canonical(int64_t{INT32_MAX}, ColumnType::Long), "2147483647");
    // A single is shown as the shortest text of the float32, a double as that of the double.
    EXPECT_EQ(canonical(static_cast<double>(0.1f), ColumnType::Single), "0.1");
    EXPECT_EQ(canonical(static_cast<double>(0.1f), ColumnType::Double), "0.10000000149011612");
    EXPECT_EQ(canonical(static_cast<double>(1.0f / 3.0f), ColumnType::Single), "0.33333334");
    EXPECT_EQ(canonical(1.0 / 3.0, ColumnType::Double), "0.3333333333333333");
    EXPECT_EQ(canonical(0.1 + 0.2, ColumnType::Double), "0.30000000000000004");
    EXPECT_EQ(canonical(-0.0, ColumnType::Double), "-0");
    EXPECT_EQ(canonical(1e300, ColumnType::Double), "1e+300");
    EXPECT_EQ(canonical(jet::Currency{-123400}, ColumnType::Currency), "-12.3400");
    EXPECT_EQ(canonical(jet::Currency{5}, ColumnType::Currency), "0.0005");
    EXPECT_EQ(canonical(jet::Currency{INT64_MIN}, ColumnType::Currency), "-922337203685477.5808");
    EXPECT_EQ(canonical(jet::Currency{INT64_MAX}, ColumnType::Currency), "922337203685477.5807");
    EXPECT_EQ(canonical(std::string("Müller"), ColumnType::Text), "\"Müller\"");
    EXPECT_EQ(canonical(std::string(), ColumnType::Memo), "\"\"");
}

TEST(Canonical, DatesInTheCalendarAndRoundedToTheSecond) {
    auto dt = [](double days) { return canonical(jet::DateTime{days}, ColumnType::DateTime); };
    EXPECT_EQ(dt(0.0), "1899-12-30 00:00:00");
    EXPECT_EQ(dt(0.5), "1899-12-30 12:00:00");
    EXPECT_EQ(dt(-1.0), "1899-12-29 00:00:00");
    EXPECT_EQ(dt(36526.0), "2000-01-01 00:00:00");
    EXPECT_EQ(dt(36585.0), "2000-02-29 00:00:00");  // 2000 is a leap year
    EXPECT_EQ(dt(1.0 + 59.0), "1900-02-28 00:00:00");
    EXPECT_EQ(dt(1.0 + 60.0), "1900-03-01 00:00:00");  // 1900 is not
    EXPECT_EQ(dt(45658.0), "2025-01-01 00:00:00");
    EXPECT_EQ(dt(2958465.0 + 86399.0 / 86400.0), "9999-12-31 23:59:59");
    EXPECT_EQ(dt(1.0 + 0.4 / 86400.0), "1899-12-31 00:00:00");
    EXPECT_EQ(dt(1.0 + 0.6 / 86400.0), "1899-12-31 00:00:01");
    EXPECT_EQ(dt(1.0 - 0.4 / 86400.0), "1899-12-31 00:00:00");  // rounds up across midnight
    EXPECT_EQ(dt(45658.0 + (13 * 3600 + 45 * 60 + 10) / 86400.0), "2025-01-01 13:45:10");
}

TEST(Canonical, ExpectedTablesKeepOrderAndUseColumnTypes) {
    const auto canon = canon_expected({{"T",
                                        {{"a", ColumnType::Single}, {"b", ColumnType::Text, 10}},
                                        {{static_cast<double>(2.5f), std::string("x")}, {jet::Null{}, std::string()}}}});
    ASSERT_EQ(canon.size(), 1u);
    EXPECT_EQ(canon[0].name, "T");
    EXPECT_EQ(canon[0].column_names, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(canon[0].column_types, (std::vector<ColumnType>{ColumnType::Single, ColumnType::Text}));
    EXPECT_EQ(canon[0].rows, (std::vector<std::vector<std::string>>{{"2.5", "\"x\""}, {"NULL", "\"\""}}));
}

TEST(MdbExportView, ShowsValuesAsMdbExportPrintsThem) {
    std::string long_memo(199998, 'a');
    long_memo += "ä";  // bytes 199998 and 199999: cut before the whole character
    const auto view = mdb_export_view(canon_expected(
        {{"T",
          {{"s", ColumnType::Single}, {"d", ColumnType::Double}, {"t", ColumnType::Text, 20}, {"m", ColumnType::Memo},
           {"c", ColumnType::Currency}},
          {{static_cast<double>(1.0f / 3.0f), 1.0 / 3.0, std::string(), long_memo, jet::Currency{10}},
           {static_cast<double>(0.1f), 0.1 + 0.2, jet::Null{}, std::string("kurz"), jet::Null{}},
           {static_cast<double>(123456789.0f), 1e300, std::string("x"), std::string(), jet::Currency{-5}}}}}));
    ASSERT_EQ(view.size(), 1u);
    const auto& rows = view[0].rows;
    EXPECT_EQ(rows[0][0], "0.33333334");  // %.8g
    EXPECT_EQ(rows[0][1], "0.3333333333333333");
    EXPECT_EQ(rows[0][2], "NULL");  // "" prints like NULL
    EXPECT_EQ(rows[0][3], "\"" + std::string(199998, 'a') + "\"");
    EXPECT_EQ(rows[0][4], "0.0010");
    EXPECT_EQ(rows[1][0], "0.1");
    EXPECT_EQ(rows[1][1], "0.3");  // %.16g of 0.30000000000000004
    EXPECT_EQ(rows[1][2], "NULL");
    EXPECT_EQ(rows[1][3], "\"kurz\"");
    EXPECT_EQ(rows[1][4], "NULL");
    EXPECT_EQ(rows[2][0], "1.2345679e+08");
    EXPECT_EQ(rows[2][1], "1e+300");
    EXPECT_EQ(rows[2][2], "\"x\"");
    EXPECT_EQ(rows[2][3], "NULL");
    EXPECT_EQ(rows[2][4], "-0.0005");
}

TEST(ExpectSameTables, ReportsNothingForEqualTables) {
    const auto t = canon_expected({table1(), table2()});
    EXPECT_TRUE(reported(t, t).empty());
    EXPECT_TRUE(reported({}, {}).empty());
}

TEST(ExpectSameTables, ReportsTablesColumnsAndRows) {
    const auto expected = canon_expected({table1(), table2()});

    auto messages = reported(expected, {expected[0]});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("probe: the tables differ"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("[Table1, Table2]"), std::string::npos) << messages[0];

    auto actual = expected;
    actual[0].column_types[1] = ColumnType::Memo;
    actual[0].column_names[8] = "J";
    actual[0].rows.pop_back();
    messages = reported(expected, actual);
    ASSERT_EQ(messages.size(), 1u);
    const std::string& m = messages[0];
    EXPECT_NE(m.find("table Table1 differs"), std::string::npos) << m;
    EXPECT_NE(m.find("column B: expected type 0x0A, actual 0x0C"), std::string::npos) << m;
    EXPECT_NE(m.find("column names: expected [A, B, C, D, E, F, G, H, I], actual [A, B, C, D, E, F, G, H, J]"),
              std::string::npos)
        << m;
    EXPECT_NE(m.find("rows: expected 2, actual 1"), std::string::npos) << m;
}

TEST(ExpectSameTables, ShowsTheFirstTenDifferingCellsOnly) {
    auto expected = canon_expected({table2()});
    for (int r = 0; r < 3; ++r) expected[0].rows.push_back(std::vector<std::string>(89, "\"v\""));
    auto actual = expected;
    actual[0].rows[1][4] = "NULL";
    auto messages = reported(expected, actual);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("row 1, column column5: expected \"v\", actual NULL"), std::string::npos) << messages[0];

    for (int c = 0; c < 25; ++c) actual[0].rows[2][c] = "\"w\"";
    actual[0].rows[0][0] = "\"" + std::string(300, 'x') + "\"";
    messages = reported(expected, actual);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(count(messages[0], ", column "), 10u) << messages[0];
    EXPECT_NE(messages[0].find("... and 17 more differences"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("(302 bytes)"), std::string::npos) << messages[0];
    EXPECT_LT(messages[0].size(), 2000u);
}

TEST(Readers, AllThreeReadMdbReadersTestFileAsItsSuiteStates) {
    const fs::path file = data_file("test.mdb");
    const std::vector<std::string> names = {"Table1", "Table2", "Table3", "Table4"};
    const auto expected = canon_expected({table1(), table2()});

    const auto libmdb = canon_from_libmdb(file);
    EXPECT_EQ(names_of(libmdb), names);
    expect_same_tables(expected, only(libmdb, {"Table1", "Table2"}), "libmdb");

    const auto mdbreader = canon_from_mdbreader(file);
    EXPECT_EQ(names_of(mdbreader), names);
    expect_same_tables(expected, only(mdbreader, {"Table1", "Table2"}), "mdb-reader");

    const auto exported = canon_from_mdb_export(file);
    EXPECT_EQ(names_of(exported), names);
    expect_same_tables(mdb_export_view(expected), only(exported, {"Table1", "Table2"}), "mdb-export");

    // Tables the suite does not describe: the three readers still agree on them.
    expect_same_tables(libmdb, mdbreader, "mdb-reader against libmdb");
    expect_same_tables(mdb_export_view(libmdb), exported, "mdb-export against libmdb");
}

TEST(Readers, DecimalColumnsReadAsText) {
    // Columns col2..col7 of numeric.mdb are decimals that every reader returns as text.
    auto pick = [](std::vector<CanonTable> tables) {
        EXPECT_EQ(names_of(tables), std::vector<std::string>{"test"});
        std::vector<std::string> cells;
        if (tables.size() != 1 || tables[0].rows.size() != 1) return cells;
        for (size_t c = 0; c < tables[0].column_names.size(); ++c) {
            if (tables[0].column_names[c] != "col1") {
                cells.push_back(tables[0].column_names[c] + "=" + tables[0].rows[0][c]);
                EXPECT_EQ(static_cast<int>(tables[0].column_types[c]), 0x10);
            }
        }
        return cells;
    };
    const std::vector<std::string> expected = {"col2=\"1\"", "col3=\"0\"", "col4=\"0\"",
                                               "col5=\"4\"", "col6=\"-1\"", "col7=\"1\""};
    const fs::path file = data_file("numeric.mdb");
    EXPECT_EQ(pick(canon_from_libmdb(file)), expected);
    EXPECT_EQ(pick(canon_from_mdbreader(file)), expected);
    EXPECT_EQ(pick(canon_from_mdb_export(file)), expected);
}

TEST(Readers, FileWithoutUserTables) {
    const fs::path file = data_file("empty.mdb");
    EXPECT_TRUE(canon_from_libmdb(file).empty());
    EXPECT_TRUE(canon_from_mdbreader(file).empty());
    EXPECT_TRUE(canon_from_mdb_export(file).empty());
}

TEST(Readers, FailuresAreReportedAsExceptions) {
    const fs::path dir = fs::temp_directory_path() / ("readback_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path text = dir / "plain.mdb";
    std::ofstream(text) << std::string(5000, 'x');
    const fs::path missing = dir / "missing.mdb";

    try {
        canon_from_mdbreader(text);
        ADD_FAILURE() << "mdb-reader accepted a text file";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("dump.mjs:"), std::string::npos) << e.what();
    }
    EXPECT_THROW(canon_from_mdbreader(missing), std::runtime_error);
    EXPECT_THROW(canon_from_mdb_export(missing), std::runtime_error);
    EXPECT_THROW(canon_from_libmdb(text), std::runtime_error);
    fs::remove_all(dir);
}
