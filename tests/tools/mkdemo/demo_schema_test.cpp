// The demo's tables and columns: every table and column the results server reads, with types
// that read the way the pages and the upload read them, and names the page statements can use
// without a table prefix.
#include <set>

#include "common/cp1252.h"
#include "tests/tools/mkdemo/demo_access.h"

using namespace demo_test;
using jet::ColumnType;

namespace {

const Db& demo() {
    static const Db db(DemoOptions{});
    return db;
}

std::vector<std::string> numbered(const char* prefix, int n) {
    std::vector<std::string> v;
    for (int i = 1; i <= n; ++i) v.push_back(prefix + std::to_string(i));
    return v;
}

struct Required {
    const char* table;
    std::vector<std::string> columns;
    bool further;  // the table has columns of its own beyond these
};

std::vector<Required> required_schema() {
    std::vector<std::string> raenge{"ErglistID", "Startnr", "Rang", "HauptErg", "Einheit", "TeilErg", "MID"};
    for (auto& e : numbered("E", 7)) raenge.push_back(e);
    std::vector<std::string> scheiben{"Sch_id", "summe"};
    for (const char* p : {"R", "t", "w"})
        for (auto& c : numbered(p, 15)) scheiben.push_back(c);
    return {
        {"starter", {"Startnr", "Nachname", "Vorname", "Vereinsnr", "waffe", "Klasse"}, false},
        {"verein", {"Vereinsnr", "Name"}, false},
        {"raenge", raenge, false},
        {"ergebnis", {"Erg_id", "Startnr", "DP_Id"}, false},
        {"zuordnung", {"Erg_id", "Scheiben_id"}, true},
        {"scheiben", scheiben, false},
        {"wettk", {"DP_ID", "Bezeichnung", "Scheibentyp", "zehnerserien", "Teilermessung"}, false},
        {"wettb_def", {"ID", "Titel", "Sortierung", "zeitstempel", "mannschaft", "selekt"}, false},
        {"wettb_opt_def", {"ID", "Erglist_id", "Option", "Wert_ST", "Wert_In", "Wert_float"}, false},
        {"mannschaft", {"Mann_id", "Wettb_id", "vereinsnr", "Name", "MRang", "MErgebnis"}, true},
        {"mann_teiln", {"Mann_id", "Startnr"}, true},
        {"Veranstaltung", {"ID", "Option", "Wert_int", "Wert_str", "Wert_float", "bemerkung"}, false},
    };
}

ColumnType type_of(const std::string& table, const std::string& column) {
    return demo().table(table).columns[demo().col(table, column)].type;
}

bool whole(ColumnType t) { return t == ColumnType::Byte || t == ColumnType::Integer || t == ColumnType::Long; }
bool number(ColumnType t) { return whole(t) || t == ColumnType::Double || t == ColumnType::Single || t == ColumnType::Currency; }

// How many of the tables have a column of this name (letter case ignored, as the engine does).
int owners(const std::vector<std::string>& tables, const std::string& column) {
    int n = 0;
    for (const auto& t : tables)
        for (const auto& c : demo().table(t).columns) n += lower(c.name) == lower(column);
    return n;
}

}  // namespace

TEST(DemoSchema, TablesAndColumnsAreSpelledAsTheServerReadsThem) {
    const auto req = required_schema();
    ASSERT_EQ(demo().tables().size(), req.size());
    for (size_t i = 0; i < req.size(); ++i) {
        const auto& t = demo().tables()[i];
        EXPECT_EQ(t.name, req[i].table);
        std::set<std::string> have, have_lower;
        for (const auto& c : t.columns) {
            have.insert(c.name);
            EXPECT_TRUE(have_lower.insert(lower(c.name)).second) << t.name << "." << c.name << " twice";
        }
        for (const auto& c : req[i].columns) EXPECT_TRUE(have.count(c)) << t.name << " lacks " << c;
        if (req[i].further)
            EXPECT_GT(t.columns.size(), req[i].columns.size()) << t.name << " has no further columns";
        else
            EXPECT_EQ(t.columns.size(), req[i].columns.size()) << t.name;
    }
}

TEST(DemoSchema, ColumnTypesReadAsTheServerReadsThem) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> whole_columns{
        {"starter", {"Startnr"}},          {"raenge", {"ErglistID", "Startnr", "Rang"}},
        {"ergebnis", {"Erg_id", "Startnr", "DP_Id"}}, {"zuordnung", {"Erg_id", "Scheiben_id", "pos"}},
        {"scheiben", {"Sch_id"}},           {"wettk", {"DP_ID"}},
        {"wettb_def", {"ID", "selekt"}},    {"wettb_opt_def", {"ID", "Erglist_id", "Wert_In"}},
        {"mannschaft", {"Mann_id", "Wettb_id", "MRang"}}, {"mann_teiln", {"Mann_id", "Startnr"}},
        {"Veranstaltung", {"ID", "Wert_int"}}};
    for (const auto& [t, cols] : whole_columns)
        for (const auto& c : cols) EXPECT_TRUE(whole(type_of(t, c))) << t << "." << c;
    // Teiler and directions are read as whole numbers too (best Teiler, hit direction).
    for (const char* p : {"t", "w"})
        for (const auto& c : numbered(p, 15)) EXPECT_TRUE(whole(type_of("scheiben", c))) << c;
    for (const auto& c : numbered("R", 15)) EXPECT_TRUE(number(type_of("scheiben", c))) << c;
    for (const auto& c : numbered("E", 7)) EXPECT_TRUE(number(type_of("raenge", c))) << c;
    for (const auto& [t, c] : std::vector<std::pair<const char*, const char*>>{
             {"scheiben", "summe"}, {"raenge", "HauptErg"}, {"mannschaft", "MErgebnis"},
             {"wettb_opt_def", "Wert_float"}, {"Veranstaltung", "Wert_float"}})
        EXPECT_TRUE(number(type_of(t, c))) << t << "." << c;
    const std::vector<std::pair<const char*, std::vector<std::string>>> text_columns{
        {"starter", {"Nachname", "Vorname", "Vereinsnr"}}, {"verein", {"Vereinsnr", "Name"}},
        {"raenge", {"Einheit"}}, {"wettk", {"Bezeichnung", "Scheibentyp", "Teilermessung"}},
        {"wettb_def", {"Titel", "Sortierung"}}, {"wettb_opt_def", {"Option", "Wert_ST"}},
        {"mannschaft", {"vereinsnr", "Name"}}, {"Veranstaltung", {"Option", "Wert_str"}}};
    for (const auto& [t, cols] : text_columns)
        for (const auto& c : cols) EXPECT_EQ(type_of(t, c), ColumnType::Text) << t << "." << c;
    EXPECT_EQ(type_of("wettb_def", "mannschaft"), ColumnType::Boolean);
}

// The page statements name some columns without their table; each must belong to exactly one
// of the tables joined there, and a table read with "table.*" must not repeat a selected name.
TEST(DemoSchema, UnqualifiedNamesOfThePageStatementsAreUnambiguous) {
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> joins{
        {{"scheiben", "wettk", "ergebnis", "zuordnung"}, {"Startnr", "Bezeichnung", "pos"}},
        {{"wettb_def", "mannschaft", "mann_teiln", "starter", "raenge"},
         {"Nachname", "Vorname", "HauptErg", "MErgebnis", "wettb_id"}},
        {{"mannschaft", "wettb_def"}, {"id", "Wettb_id", "vereinsnr"}},
        {{"wettb_def", "wettb_opt_def"}, {"option"}},
        {{"wettb_def", "raenge"}, {"mannschaft", "selekt"}},
        {{"verein", "starter"}, {"Startnr", "nachname", "Vorname"}},
    };
    for (const auto& [tables, columns] : joins)
        for (const auto& c : columns) EXPECT_EQ(owners(tables, c), 1) << c << " among " << tables.front() << "...";
    // "SELECT scheiben.* , wettk.Bezeichnung, wettk.Teilermessung, ..., wettk.DP_ID" reads "dp_id".
    EXPECT_EQ(owners({"scheiben"}, "DP_ID") + owners({"scheiben"}, "Bezeichnung") + owners({"scheiben"}, "Teilermessung"), 0);
    // "SELECT raenge.*, wettb_def.Sortierung, wettb_def.Titel, starter.Nachname, ..., verein.vereinsnr".
    for (const char* c : {"Sortierung", "Titel", "Nachname", "Vorname", "Name", "vereinsnr"})
        EXPECT_EQ(owners({"raenge"}, c), 0) << c;
}

TEST(DemoSchema, TextsFitTheirColumnsAndWindows1252) {
    for (const auto& t : demo().tables()) {
        for (size_t c = 0; c < t.columns.size(); ++c) {
            const auto& col = t.columns[c];
            if (col.type == ColumnType::Text) {
                EXPECT_GE(col.size, 1);
                EXPECT_LE(col.size, 255);
            }
            for (const auto& row : t.rows) {
                const auto* s = std::get_if<std::string>(&row[c]);
                if (!s) continue;
                if (col.type == ColumnType::Text) {
                    EXPECT_LE(utf8_length(*s), static_cast<size_t>(col.size)) << *s;
                }
                const std::string bytes = ringolan::text::utf8_to_cp1252(*s);
                EXPECT_EQ(bytes.find('?'), std::string::npos) << t.name << "." << col.name << ": " << *s;
                EXPECT_EQ(ringolan::text::cp1252_to_utf8(bytes), *s);
            }
        }
    }
}
