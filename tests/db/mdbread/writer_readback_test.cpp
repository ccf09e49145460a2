// A table written with ringolan_jet reads back exactly with all three readers.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/jet/writer.h"
#include "db/mdbread/mdb_read.h"
#include "tests/support/read_back.h"

namespace fs = std::filesystem;
using namespace ringolan;
using jet::ColumnType;

TEST(MdbReadWriter, WrittenTableReadsBackExactlyWithAllReaders) {
    const std::vector<jet::Column> columns = {
        {"Startnr", ColumnType::Long},       {"Name", ColumnType::Text, 40},   {"Aktiv", ColumnType::Boolean},
        {"Punkte", ColumnType::Single},      {"Schnitt", ColumnType::Double},  {"Betrag", ColumnType::Currency},
        {"Datum", ColumnType::DateTime},     {"Bemerkung", ColumnType::Memo},  {"Klasse", ColumnType::Byte},
        {"Serie", ColumnType::Integer}};
    // More than 64 KiB as UCS-2 and more than mdb-export's 199,999 bytes as UTF-8.
    std::string long_memo;
    for (int i = 0; i < 30000; ++i) long_memo += "Grüße" + std::to_string(i % 10);
    // 2025-01-01 is day 45658; 13:45:10 is 49510 seconds into it.
    const jet::DateTime new_year{45658.0 + 49510.0 / 86400.0};
    const std::vector<jet::Row> rows = {
        {int64_t{1}, std::string("Müller"), true, static_cast<double>(95.3f), 1.0 / 3.0, jet::Currency{123400},
         new_year, std::string("kurz"), int64_t{7}, int64_t{-32768}},
        {int64_t{2}, std::string(""), false, jet::Null{}, jet::Null{}, jet::Null{}, jet::Null{}, std::string(""),
         int64_t{0}, int64_t{32767}},
        {int64_t{-3}, jet::Null{}, true, -0.5, 1e-300, jet::Currency{-1}, jet::DateTime{0.0}, long_memo,
         int64_t{255}, jet::Null{}},
        {int64_t{2147483647}, std::string("€ „Zitat“ – Œuvre ™"), false, static_cast<double>(0.1f), 0.1 + 0.2,
         jet::Currency{-922337203685477LL * 10000}, jet::DateTime{36585.5}, jet::Null{}, jet::Null{}, int64_t{0}}};

    const fs::path dir = fs::temp_directory_path() / ("mdbread_writer_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "schuetzen.mdb";
    {
        jet::DatabaseWriter db;
        jet::TableWriter& t = db.add_table("Schützen", columns);
        for (const jet::Row& row : rows) t.add_row(row);
        db.add_table("Leer", {{"x", ColumnType::Text, 1}});
        db.save(file);
    }

    readback::expect_file_reads_back(file, {{"Schützen", columns, rows}, {"Leer", {{"x", ColumnType::Text, 1}}, {}}});

    // The libmdb reader also gives the very values written, and the text sizes.
    const auto tables = mdbread::read_all(file);
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0].rows, rows);
    ASSERT_EQ(tables[0].columns.size(), columns.size());
    EXPECT_EQ(tables[0].columns[1].size, 40);
    EXPECT_EQ(tables[1].columns[0].size, 1);
    // Lookup without regard to case covers the umlaut too.
    EXPECT_EQ(mdbread::read_table(file, "SCHÜTZEN").name, "Schützen");
    fs::remove_all(dir);
}

// Row by row through one open file gives what whole-table reading gives, though the reader
// refills one Row object; tables come in catalog order, an empty one included.
TEST(MdbReadWriter, ScanDeliversEveryTableRowByRow) {
    const fs::path dir = fs::temp_directory_path() / ("mdbread_scan_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "scan.mdb";
    {
        jet::DatabaseWriter db;
        auto& a = db.add_table("starter", {{"Startnr", ColumnType::Long}, {"Nachname", ColumnType::Text, 30}});
        for (int64_t i = 0; i < 3000; ++i)
            a.add_row({i, i % 5 ? jet::Value("Schütze " + std::to_string(i)) : jet::Value(jet::Null{})});
        db.add_table("leer", {{"x", ColumnType::Double}});
        db.add_table("verein", {{"Name", ColumnType::Memo}}).add_row({std::string(5000, 'v')});
        db.save(file);
    }
    std::vector<mdbread::TableData> scanned;
    const size_t count = mdbread::scan_all(
        file,
        [&](const std::string& name, const std::vector<mdbread::ColumnInfo>& columns) {
            scanned.push_back({name, columns, {}});
        },
        [&](const jet::Row& row) { scanned.back().rows.push_back(row); });
    const auto whole = mdbread::read_all(file);
    ASSERT_EQ(count, 3u);
    ASSERT_EQ(scanned.size(), whole.size());
    for (size_t t = 0; t < whole.size(); ++t) {
        EXPECT_EQ(scanned[t].name, whole[t].name);
        EXPECT_EQ(scanned[t].rows, whole[t].rows) << whole[t].name;
    }
    EXPECT_EQ(scanned[0].rows.size(), 3000u);
    EXPECT_TRUE(std::holds_alternative<jet::Null>(scanned[0].rows[5][1]));
    EXPECT_EQ(std::get<std::string>(scanned[0].rows[6][1]), "Schütze 6");
    fs::remove_all(dir);
}
