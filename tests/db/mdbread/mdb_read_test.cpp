// ringolan_mdbread on Jet 4 files from mdb-reader's test suite; the expected values are those
// that suite states (see tests/data/README.md).
#include "db/mdbread/mdb_read.h"

#include <glib.h>
#include <mdbtools.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace fs = std::filesystem;
using namespace ringolan;
using jet::ColumnType;

namespace {

fs::path data_file(const char* name) { return fs::path(RINGOLAN_BINARY_DIR) / "tests/data/mdb-reader-V2000" / name; }

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("mdbread_test_" + std::to_string(::getpid()))) {
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    fs::path file(const std::string& name, const std::string& bytes) const {
        std::ofstream(path_ / name, std::ios::binary) << bytes;
        return path_ / name;
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void expect_error(const std::function<void()>& call, const std::string& part) {
    try {
        call();
        ADD_FAILURE() << "no error, expected one containing \"" << part << "\"";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
}

// Definition pages of the user tables, through libmdb's catalog.
std::vector<uint32_t> user_table_pages(const fs::path& file) {
    std::vector<uint32_t> pages;
    MdbHandle* mdb = mdb_open(file.c_str(), MDB_NOFLAGS);
    if (!mdb) return pages;
    if (mdb_read_catalog(mdb, MDB_TABLE)) {
        for (guint i = 0; i < mdb->catalog->len; ++i) {
            auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
            if (mdb_is_user_table(e)) pages.push_back(static_cast<uint32_t>(e->table_pg));
        }
    }
    mdb_close(mdb);
    return pages;
}

}  // namespace

TEST(MdbRead, TableNamesInCatalogOrder) {
    EXPECT_EQ(mdbread::table_names(data_file("test.mdb")),
              (std::vector<std::string>{"Table1", "Table2", "Table3", "Table4"}));
    EXPECT_EQ(mdbread::table_names(data_file("numeric.mdb")), std::vector<std::string>{"test"});
    EXPECT_TRUE(mdbread::table_names(data_file("empty.mdb")).empty());
    EXPECT_TRUE(mdbread::read_all(data_file("empty.mdb")).empty());
}

TEST(MdbRead, ValuesOfEveryColumnType) {
    const auto tables = mdbread::read_all(data_file("test.mdb"));
    ASSERT_EQ(tables.size(), 4u);
    const mdbread::TableData& t = tables[0];
    EXPECT_EQ(t.name, "Table1");
    // Names and types as the suite states; text sizes are its byte sizes 100 and 200 halved.
    const std::vector<std::tuple<std::string, ColumnType, int>> columns = {
        {"A", ColumnType::Text, 50},     {"B", ColumnType::Text, 100},     {"C", ColumnType::Byte, -1},
        {"D", ColumnType::Integer, -1},  {"E", ColumnType::Long, -1},      {"F", ColumnType::Double, -1},
        {"G", ColumnType::DateTime, -1}, {"H", ColumnType::Currency, -1},  {"I", ColumnType::Boolean, -1}};
    ASSERT_EQ(t.columns.size(), columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        EXPECT_EQ(t.columns[i].name, std::get<0>(columns[i]));
        EXPECT_EQ(t.columns[i].type, std::get<1>(columns[i])) << t.columns[i].name;
        if (std::get<2>(columns[i]) >= 0) {
            EXPECT_EQ(t.columns[i].size, std::get<2>(columns[i])) << t.columns[i].name;
        }
    }
    // Dates: the suite's 148953600000 and 376963200000 ms after 1970 are 1724 and 4363 days,
    // plus the 25569 days from 1899-12-30 to 1970-01-01.
    const std::vector<jet::Row> rows = {
        {std::string("abcdefg"), std::string("hijklmnop"), int64_t{2}, int64_t{222}, int64_t{333333333}, 444.555,
         jet::DateTime{27293.0}, jet::Currency{35000}, true},
        {std::string("a"), std::string("b"), int64_t{0}, int64_t{0}, int64_t{0}, 0.0, jet::DateTime{29932.0},
         jet::Currency{0}, false}};
    EXPECT_EQ(t.rows, rows);

    const mdbread::TableData& wide = tables[1];
    EXPECT_EQ(wide.name, "Table2");
    ASSERT_EQ(wide.columns.size(), 89u);
    for (int i = 0; i < 89; ++i) {
        EXPECT_EQ(wide.columns[i].name, "column" + std::to_string(i + 1));
        EXPECT_EQ(wide.columns[i].type, ColumnType::Text);
        EXPECT_EQ(wide.columns[i].size, 50);
    }
    EXPECT_TRUE(wide.rows.empty());
}

TEST(MdbRead, DecimalColumnsReadAsLibmdbText) {
    const mdbread::TableData t = mdbread::read_table(data_file("numeric.mdb"), "test");
    ASSERT_EQ(t.columns.size(), 7u);
    EXPECT_EQ(t.columns[0].name, "col1");
    EXPECT_EQ(t.columns[0].type, ColumnType::Memo);
    std::vector<jet::Value> decimals;
    for (size_t i = 1; i < 7; ++i) {
        EXPECT_EQ(t.columns[i].name, "col" + std::to_string(i + 1));
        EXPECT_EQ(static_cast<int>(t.columns[i].type), 0x10);
    }
    ASSERT_EQ(t.rows.size(), 1u);
    ASSERT_EQ(t.rows[0].size(), 7u);
    EXPECT_TRUE(std::holds_alternative<std::string>(t.rows[0][0]));  // the memo
    const std::vector<jet::Value> expected = {std::string("1"), std::string("0"), std::string("0"),
                                              std::string("4"), std::string("-1"), std::string("1")};
    EXPECT_EQ(std::vector<jet::Value>(t.rows[0].begin() + 1, t.rows[0].end()), expected);
}

TEST(MdbRead, TableLookupIgnoresCase) {
    const fs::path file = data_file("test.mdb");
    const auto all = mdbread::read_all(file);
    for (const char* name : {"Table1", "table1", "TABLE1", "tAbLe1"}) {
        const mdbread::TableData t = mdbread::read_table(file, name);
        EXPECT_EQ(t.name, "Table1") << name;
        EXPECT_EQ(t.rows, all[0].rows) << name;
    }
    EXPECT_EQ(mdbread::read_table(file, "table3").name, "Table3");
    expect_error([&] { mdbread::read_table(file, "Table5"); }, "no table named \"Table5\"");
    expect_error([&] { mdbread::read_table(file, "Table"); }, "no table named");
    expect_error([&] { mdbread::read_table(file, "MSysObjects"); }, "no table named");  // system tables are not user tables
}

TEST(MdbRead, FilesThatAreNotJetDatabases) {
    TempDir dir;
    const std::string jet = slurp(data_file("test.mdb"));
    expect_error([&] { mdbread::read_all(dir.path() / "missing.mdb"); }, "no such file");
    expect_error([&] { mdbread::table_names(dir.path()); }, "not a regular file");
    expect_error([&] { mdbread::read_all(dir.file("empty.mdb", "")); }, "not a Jet database file");
    expect_error([&] { mdbread::read_all(dir.file("text.mdb", std::string(8192, 'x'))); }, "not a Jet database file");
    expect_error([&] { mdbread::read_table(dir.file("short.mdb", jet.substr(0, 19)), "Table1"); },
                 "not a Jet database file");
    // Page 0 alone: the signature is right but the catalog page is missing.
    expect_error([&] { mdbread::read_all(dir.file("page0.mdb", jet.substr(0, 4096))); }, "cannot read the catalog");
    // The message names the file.
    expect_error([&] { mdbread::read_all(dir.path() / "missing.mdb"); }, "missing.mdb");
}

TEST(MdbRead, DamagedRowsRaiseErrorsAndNeverReadOutsideThePage) {
    // Bytes of the rows and row offsets of the user tables' data pages are overwritten at
    // random; every read must end in values or a runtime_error (ASan catches stray reads).
    TempDir dir;
    int errors = 0;
    int reads = 0;
    for (const char* name : {"test.mdb", "numeric.mdb"}) {
        const std::string original = slurp(data_file(name));
        const auto owners = user_table_pages(data_file(name));
        ASSERT_FALSE(owners.empty());
        std::vector<size_t> pages;
        for (size_t pg = 1; pg < original.size() / 4096; ++pg) {
            const auto* p = reinterpret_cast<const unsigned char*>(original.data() + pg * 4096);
            uint32_t owner;
            std::memcpy(&owner, p + 4, 4);
            if (p[0] == 0x01 && std::find(owners.begin(), owners.end(), owner) != owners.end()) pages.push_back(pg);
        }
        ASSERT_FALSE(pages.empty());
        std::mt19937 rng(4242);
        for (int round = 0; round < 60; ++round) {
            std::string bytes = original;
            for (int k = 0; k < 6; ++k) {
                const size_t pg = pages[rng() % pages.size()];
                // Mostly the row area at the end of the page, sometimes the row-offset table.
                const size_t off = rng() % 4 == 0 ? 12 + rng() % 16 : 4096 - 1 - rng() % 600;
                bytes[pg * 4096 + off] = static_cast<char>(rng());
            }
            const fs::path file = dir.file("damaged.mdb", bytes);
            ++reads;
            try {
                mdbread::read_all(file);
            } catch (const std::runtime_error&) {
                ++errors;
            }
        }
    }
    EXPECT_GT(errors, 0) << "no damage was detected in " << reads << " reads";
    EXPECT_LT(errors, reads);
}

TEST(MdbRead, CallsOnSeveralThreadsAtOnce) {
    const auto expected_test = mdbread::read_all(data_file("test.mdb"));
    const auto expected_numeric = mdbread::read_all(data_file("numeric.mdb"));
    std::vector<std::thread> threads;
    std::vector<int> good(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                const bool ok = t % 2 == 0 ? mdbread::read_all(data_file("test.mdb"))[0].rows == expected_test[0].rows
                                           : mdbread::read_all(data_file("numeric.mdb"))[0].rows ==
                                                 expected_numeric[0].rows;
                good[t] += ok ? 1 : 0;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good, std::vector<int>(6, 5));
}
