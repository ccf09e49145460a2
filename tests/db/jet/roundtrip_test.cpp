// Files from the writer read back exactly through libmdb (in process), mdb-export and mdb-reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "db/jet/writer.h"
#include "db/mdbread/mdb_read.h"
#include "tests/support/read_back.h"

namespace fs = std::filesystem;
using namespace ringolan;
using namespace ringolan::jet;
using ringolan::readback::ExpectedTable;
using ringolan::readback::expect_file_reads_back;
using ringolan::readback::canon_expected;
using ringolan::readback::canon_from_libmdb;
using ringolan::readback::expect_same_tables;

namespace {

fs::path temp_file(const std::string& name) {
    fs::path d = fs::temp_directory_path() / ("jet_roundtrip_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d / name;
}

std::vector<Column> all_types() {
    return {{"Startnr", ColumnType::Long},       {"Nachname", ColumnType::Text, 50}, {"Aktiv", ColumnType::Boolean},
            {"Klein", ColumnType::Byte},         {"Mittel", ColumnType::Integer},    {"Betrag", ColumnType::Currency},
            {"Einfach", ColumnType::Single},     {"Doppelt", ColumnType::Double},    {"Zeit", ColumnType::DateTime},
            {"Lang", ColumnType::Text, 255},     {"Notiz", ColumnType::Memo}};
}

std::vector<Row> all_type_rows() {
    const std::string max255 = [] {
        std::string s;
        for (int i = 0; i < 255; ++i) s += (i % 3 == 0) ? "ä" : (i % 3 == 1 ? "ß" : "z");
        return s;
    }();
    auto memo = [](size_t chars, const char* unit) {
        std::string s;
        for (size_t i = 0; i < chars; ++i) s += unit;
        return s;
    };
    return {
        {int64_t(1017), std::string("Müller"), true, int64_t(255), int64_t(-32768), Currency{123456}, 1.5, -2.25,
         make_datetime(2024, 5, 1, 13, 45, 10), max255, std::string("Schütze \"Jürgen\" – Weiß")},
        {Null{}, Null{}, false, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}},
        {int64_t(INT32_MIN), std::string(""), true, int64_t(0), int64_t(32767), Currency{INT64_MIN}, -3.4e38,
         -1e-300, make_datetime(1899, 12, 30), std::string(""), std::string("")},
        {int64_t(INT32_MAX), std::string("Ölmann"), false, int64_t(1), int64_t(-1), Currency{INT64_MAX}, 0.1,
         1.7976931348623157e308, make_datetime(2099, 12, 31, 23, 59, 59), std::string("\xEF\xBB\xBFmit Marke"),
         memo(32, "a")},
        {int64_t(-1), std::string("€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ"), true, int64_t(128), int64_t(0), Currency{-1}, -0.0,
         3.141592653589793, make_datetime(2000, 2, 29, 0, 0, 1), std::string("中文 Łódź"), memo(33, "b")},
        {int64_t(0), std::string("x"), false, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{},
         memo(2038, "c")},  // 4076 bytes: one long-value row
        {int64_t(2), std::string("y"), true, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{},
         memo(2039, "d")},  // 4078 bytes: a chain of two
        {int64_t(3), std::string("z"), true, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{},
         memo(70000, "é")},  // 140000 bytes: a long chain
        {int64_t(4), std::string("\xEF\xBB\xBF"), false, Null{}, Null{}, Null{}, Null{}, Null{}, Null{},
         std::string("\xEF\xBB\xBF\xEF\xBB\xBF"), memo(3000, "\xEF\xBB\xBF")},
    };
}

// Singles are stored as float32; the readers give the widened float back.
std::vector<Row> as_stored(const std::vector<Column>& cols, std::vector<Row> rows) {
    for (auto& r : rows)
        for (size_t i = 0; i < cols.size(); ++i)
            if (cols[i].type == ColumnType::Single)
                if (auto d = std::get_if<double>(&r[i])) *d = double(float(*d));
    return rows;
}

}  // namespace

TEST(JetRoundTrip, EveryTypeEdgeValuesAndNulls) {
    const fs::path file = temp_file("types.mdb");
    const auto cols = all_types();
    const auto rows = all_type_rows();
    DatabaseWriter w;
    auto& t = w.add_table("werte", cols);
    for (const auto& r : rows) t.add_row(r);
    w.add_table("leer", {{"a", ColumnType::Long}});
    w.save(file);

    const std::vector<ExpectedTable> expected = {{"werte", cols, as_stored(cols, rows)},
                                                 {"leer", {{"a", ColumnType::Long}}, {}}};
    expect_file_reads_back(file, expected);
}

// mdb-export prints neither the year 9999 nor characters beyond the BMP; the other readers must.
TEST(JetRoundTrip, FarDatesAndSupplementaryCharacters) {
    const fs::path file = temp_file("far.mdb");
    const std::vector<Column> cols = {{"Zeit", ColumnType::DateTime}, {"Text", ColumnType::Text, 20}};
    const std::vector<Row> rows = {{make_datetime(9999, 12, 31, 23, 59, 59), std::string("🎯 Ziel 𝄞")},
                                   {make_datetime(1900, 3, 1, 12), std::string("\xEF\xBB\xBF🎯")}};
    DatabaseWriter w;
    auto& t = w.add_table("jenseits", cols);
    for (const auto& r : rows) t.add_row(r);
    w.save(file);
    const auto expected = canon_expected({{"jenseits", cols, rows}});
    expect_same_tables(expected, canon_from_libmdb(file), "libmdb");
    expect_same_tables(expected, ringolan::readback::canon_from_mdbreader(file), "mdb-reader");
}

TEST(JetRoundTrip, LargeTableUsesReferenceUsageMaps) {
    const fs::path file = temp_file("large.mdb");
    const std::vector<Column> cols = {{"id", ColumnType::Long},
                                      {"name", ColumnType::Text, 30},
                                      {"ok", ColumnType::Boolean},
                                      {"wert", ColumnType::Double},
                                      {"notiz", ColumnType::Memo}};
    std::vector<Row> rows;
    rows.reserve(200000);
    for (int64_t i = 0; i < 200000; ++i)
        rows.push_back({i, "Schütze " + std::to_string(i), i % 3 == 0, i % 11 == 0 ? Value(Null{}) : Value(i * -0.25),
                        i % 1000 == 0 ? Value(std::string(100 + i % 7000, 'm')) : Value(Null{})});
    DatabaseWriter w;
    auto& small = w.add_table("klein", {{"n", ColumnType::Integer}});
    auto& t = w.add_table("gross", cols);
    // Interleave a second table so neither owns a contiguous run of pages.
    for (size_t i = 0; i < rows.size(); ++i) {
        t.add_row(rows[i]);
        if (i % 5000 == 0) small.add_row({int64_t(i / 5000)});
    }
    std::vector<Row> small_rows;
    for (int64_t i = 0; i < 40; ++i) small_rows.push_back({i});
    w.save(file);
    ASSERT_GT(fs::file_size(file) / 4096, 3 * 512u);

    const std::vector<ExpectedTable> expected = {{"klein", {{"n", ColumnType::Integer}}, small_rows},
                                                 {"gross", cols, rows}};
    expect_file_reads_back(file, expected);
}

TEST(JetRoundTrip, WideTableDefinitionSpansPagesAndManyTablesFillMapPages) {
    const fs::path file = temp_file("wide.mdb");
    std::vector<Column> wide;
    Row row;
    for (int i = 0; i < 255; ++i) {
        wide.push_back({"Spalte_mit_einem_recht_langen_Namen_Nummer_" + std::to_string(i),
                        i % 2 ? ColumnType::Text : ColumnType::Long, 10});
        row.push_back(i % 2 ? Value("w" + std::to_string(i)) : Value(int64_t(i * 1000)));
    }
    DatabaseWriter w;
    w.add_table("breit", wide).add_row(row);
    std::vector<ExpectedTable> expected = {{"breit", wide, {row}}};
    for (int k = 0; k < 70; ++k) {  // 2 map rows each: more than one page of map rows
        const std::string name = "Tabelle_" + std::to_string(k);
        const std::vector<Column> cols = {{"k", ColumnType::Long}, {"Bemerkung", ColumnType::Memo}};
        auto& t = w.add_table(name, cols);
        t.add_row({int64_t(k), std::string(size_t(k) * 100, 'r')});
        expected.push_back({name, cols, {{int64_t(k), std::string(size_t(k) * 100, 'r')}}});
    }
    w.save(file);
    expect_file_reads_back(file, expected);
}

TEST(JetWriter, RejectsBadTablesAndWritesAtomically) {
    DatabaseWriter w;
    w.add_table("starter", {{"a", ColumnType::Long}});
    EXPECT_THROW(w.add_table("STARTER", {{"a", ColumnType::Long}}), WriteError);
    EXPECT_THROW(w.add_table("", {{"a", ColumnType::Long}}), WriteError);
    EXPECT_THROW(w.add_table("MSysObjects", {{"a", ColumnType::Long}}), WriteError);
    EXPECT_THROW(w.add_table("x", {}), WriteError);
    {
        DatabaseWriter names;
        EXPECT_THROW(names.add_table("Vereine\xC3", {{"a", ColumnType::Long}}), WriteError);  // malformed UTF-8
        EXPECT_THROW(names.add_table(std::string(65, 'T'), {{"a", ColumnType::Long}}), WriteError);
        std::string umlauts;  // 64 characters, 128 bytes
        for (int i = 0; i < 64; ++i) umlauts += "Ü";
        EXPECT_NO_THROW(names.add_table(umlauts, {{"a", ColumnType::Long}}));
    }

    auto& t = w.add_table("verein", {{"n", ColumnType::Text, 3}});
    EXPECT_THROW(t.add_row({std::string("viel zu lang")}), WriteError);
    EXPECT_EQ(t.row_count(), 0u);  // a rejected row leaves nothing behind
    t.add_row({std::string("ok")});

    const fs::path dir = temp_file("atomic").parent_path() / "atomic";
    fs::create_directories(dir);
    EXPECT_THROW(w.save(dir / "missing" / "x.mdb"), std::runtime_error);
    const fs::path target = dir / "a.mdb";
    { std::ofstream(target) << "old"; }
    w.save(target);
    EXPECT_EQ(fs::file_size(target), w.image().size());
    for (const auto& e : fs::directory_iterator(dir)) EXPECT_EQ(e.path().filename(), "a.mdb");
    EXPECT_THROW(t.add_row({std::string("zu")}), WriteError);  // written files are final
    expect_same_tables(canon_expected({{"starter", {{"a", ColumnType::Long}}, {}},
                                       {"verein", {{"n", ColumnType::Text, 3}}, {{std::string("ok")}}}}),
                       canon_from_libmdb(target), "libmdb");
}

TEST(JetWriter, SameInputGivesTheSameBytes) {
    auto make = [] {
        DatabaseWriter w;
        auto& t = w.add_table("t", all_types());
        for (const auto& r : all_type_rows()) t.add_row(r);
        return w.image();
    };
    EXPECT_EQ(make(), make());
}
