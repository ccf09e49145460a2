// The twelve upload statements on the 300-shooter demo, dumped to files and parsed back: every
// table's line count and every value against the rows that libmdb reads from the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/cp1252.h"
#include "db/mdbread/mdb_read.h"
#include "tests/db/sql/jet_statements.h"
#include "tests/upload/upload_fixture.h"
#include "tools/mkdemo/demo.h"
#include "upload/sql_dump.h"

using namespace ringolan;
using namespace ringolan::test_upload;
using jet::ColumnType;
namespace stmt = ringolan::testing::jet;

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One statement of a dump file: the table code and the raw text of each value.
struct Statement {
    std::string code;
    std::vector<std::string> values;
};

// Parses a whole dump file: statements "#*i" code "#*" values ");" each followed by CR LF. A
// quoted value runs to the next "'" not preceded by "\" and may hold line breaks; a bare value
// runs to the next "," or ")". Fails the test on anything else.
std::vector<Statement> parse_dump(const std::string& text) {
    std::vector<Statement> out;
    size_t p = 0;
    while (p < text.size()) {
        Statement s;
        EXPECT_EQ(text.compare(p, 3, "#*i"), 0) << "at " << p;
        p += 3;
        const size_t code_end = text.find("#*", p);
        if (code_end == std::string::npos) {
            ADD_FAILURE() << "no code end at " << p;
            break;
        }
        s.code = text.substr(p, code_end - p);
        p = code_end + 2;
        for (;;) {
            const size_t start = p;
            if (p < text.size() && text[p] == '\'') {
                ++p;
                while (p < text.size() && !(text[p] == '\'' && text[p - 1] != '\\')) ++p;
                ++p;  // the closing quote
            } else {
                while (p < text.size() && text[p] != ',' && text[p] != ')') ++p;
            }
            s.values.push_back(text.substr(start, p - start));
            if (p >= text.size()) {
                ADD_FAILURE() << "statement cut off";
                return out;
            }
            if (text[p] == ',') {
                ++p;
                continue;
            }
            break;
        }
        EXPECT_EQ(text.compare(p, 4, ");\r\n"), 0) << "statement end at " << p << ": " << text.substr(p, 20);
        p += 4;
        out.push_back(std::move(s));
    }
    return out;
}

// The value text a Jet value must have in the dump with the upload's delimiters; reals are
// checked by number (real_matches).
std::string expected_text(ColumnType type, const jet::Value& v) {
    const bool null = std::holds_alternative<jet::Null>(v);
    switch (type) {
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long: return null ? "''" : "'" + std::to_string(std::get<int64_t>(v)) + "'";
    case ColumnType::Boolean: return null || std::get<bool>(v) ? "0" : "-1";
    case ColumnType::Text: {
        if (null) return "''";
        std::string out = "'";
        for (char c : text::utf8_to_cp1252(std::get<std::string>(v))) {
            if (c == '\'') out += '\\';
            out += c;
        }
        return out + "'";
    }
    case ColumnType::DateTime: {
        if (null) return "''";
        const std::string iso = jet::format_datetime(std::get<jet::DateTime>(v));  // YYYY-MM-DD HH:MM:SS
        std::string german = iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4);
        if (iso.substr(11) != "00:00:00") german += " " + iso.substr(11);
        return "'" + german + "'";
    }
    default: ADD_FAILURE() << "type " << int(type) << " not expected in the demo"; return {};
    }
}

// A real in the dump: digits, ".", one digit; within half a unit of the last place of the value.
bool real_matches(const std::string& written, const jet::Value& v) {
    const double value = std::holds_alternative<jet::Null>(v) ? 0.0 : std::get<double>(v);
    const size_t point = written.find('.');
    if (point == std::string::npos || point + 2 != written.size()) return false;
    if (written.find_first_not_of("-0123456789.") != std::string::npos) return false;
    const double read = std::strtod(written.c_str(), nullptr);
    const double unit = std::fabs(value) >= 9999.95 ? 1.0 : 0.1;  // five significant digits from 10000 on
    return std::fabs(read - value) <= unit / 2 + 1e-9;
}

class DumpDemoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        file_ = new fs::path(scratch_dir() / "demo300.mdb");
        demo::DemoOptions options;
        options.shooters = 300;
        demo::write_demo(options, *file_);
        snapshot_ = new std::shared_ptr<const db::Snapshot>(snapshot_of(*file_));
        tables_ = new std::map<std::string, mdbread::TableData>;
        for (auto& t : mdbread::read_all(*file_)) (*tables_)[lower(t.name)] = std::move(t);
    }
    static void TearDownTestSuite() {
        delete tables_;
        delete snapshot_;
        delete file_;
    }

    // Dumps a statement the way the upload does and parses the file back.
    std::vector<Statement> dump(const char* statement, const std::string& table_name, const std::string& code) {
        q.close();
        q.set_command(statement);
        q.open(**snapshot_);
        upload::SqlDump d;
        d.query = &q;
        d.table_name = table_name;
        d.string_delim = "'";
        d.numeric_delim = "'";
        const fs::path sql = scratch_dir() / "dtest.sql";
        const size_t n = d.dump_to_file(sql, code);
        auto lines = parse_dump(read_bytes(sql));
        EXPECT_EQ(lines.size(), n);
        for (const auto& s : lines) EXPECT_EQ(s.code, code);
        return lines;
    }

    static const mdbread::TableData& table(const std::string& name) { return tables_->at(lower(name)); }

    // Compares each line with the row of the same position: the listed columns in order
    // (memo columns are absent from the line).
    void expect_rows(const std::vector<Statement>& lines, const mdbread::TableData& t, const std::vector<jet::Row>& rows,
                     const std::vector<std::string>& columns) {
        std::vector<size_t> index;
        for (const auto& name : columns) {
            size_t i = 0;
            while (i < t.columns.size() && lower(t.columns[i].name) != lower(name)) ++i;
            ASSERT_LT(i, t.columns.size()) << name;
            if (t.columns[i].type != ColumnType::Memo) index.push_back(i);
        }
        ASSERT_EQ(lines.size(), rows.size()) << t.name;
        for (size_t r = 0; r < rows.size(); ++r) {
            ASSERT_EQ(lines[r].values.size(), index.size()) << t.name << " line " << r;
            for (size_t k = 0; k < index.size(); ++k) {
                const auto type = t.columns[index[k]].type;
                const auto& v = rows[r][index[k]];
                const auto& got = lines[r].values[k];
                if (type == ColumnType::Double || type == ColumnType::Single)
                    EXPECT_TRUE(real_matches(got, v)) << t.name << " line " << r << " " << t.columns[index[k]].name << ": " << got;
                else
                    EXPECT_EQ(got, expected_text(type, v)) << t.name << " line " << r << " " << t.columns[index[k]].name;
            }
        }
    }

    // Rows sorted by a column holding distinct whole numbers or texts.
    static std::vector<jet::Row> sorted_by(const mdbread::TableData& t, const std::string& column) {
        size_t i = 0;
        while (lower(t.columns[i].name) != lower(column)) ++i;
        auto rows = t.rows;
        auto key = [i](const jet::Row& r) {
            if (const auto* n = std::get_if<int64_t>(&r[i])) return std::to_string(*n + (int64_t(1) << 40));  // same width
            return std::get<std::string>(r[i]);
        };
        std::stable_sort(rows.begin(), rows.end(), [&](const jet::Row& a, const jet::Row& b) { return key(a) < key(b); });
        return rows;
    }

    static std::vector<std::string> all_columns(const mdbread::TableData& t) {
        std::vector<std::string> names;
        for (const auto& c : t.columns) names.push_back(c.name);
        return names;
    }

    static fs::path* file_;
    static std::shared_ptr<const db::Snapshot>* snapshot_;
    static std::map<std::string, mdbread::TableData>* tables_;
    db::Query q;
};

fs::path* DumpDemoTest::file_ = nullptr;
std::shared_ptr<const db::Snapshot>* DumpDemoTest::snapshot_ = nullptr;
std::map<std::string, mdbread::TableData>* DumpDemoTest::tables_ = nullptr;

}  // namespace

TEST_F(DumpDemoTest, TablesInFileOrderOrSortedByTheirKey) {
    const auto& raenge = table("raenge");
    expect_rows(dump(stmt::kUploadRaenge, "raenge", "r"), raenge, raenge.rows,
                {"Startnr", "Rang", "ErglistID", "HauptErg", "Einheit", "TeilErg", "MID", "E1", "E2", "E3", "E4", "E5",
                 "E6", "E7"});
    const auto& verein = table("verein");
    expect_rows(dump(stmt::kUploadVerein, "verein", "v"), verein, sorted_by(verein, "Vereinsnr"),
                {"Vereinsnr", "Name"});
    const auto& ergebnis = table("ergebnis");
    expect_rows(dump(stmt::kUploadErgebnis, "ergebnis", "e"), ergebnis, sorted_by(ergebnis, "Erg_id"),
                {"Erg_id", "Startnr", "DP_Id"});
    const auto& scheiben = table("scheiben");
    std::vector<std::string> shots = {"Sch_id", "summe"};
    for (const char* c : {"R", "t", "w"})
        for (int i = 1; i <= 10; ++i) shots.push_back(c + std::to_string(i));
    expect_rows(dump(stmt::kUploadScheiben, "scheiben", "sc"), scheiben, sorted_by(scheiben, "Sch_id"), shots);
    const auto& wettk = table("wettk");
    expect_rows(dump(stmt::kUploadWettk, "wettk", "w"), wettk, sorted_by(wettk, "DP_ID"),
                {"DP_ID", "Bezeichnung", "Scheibentyp", "zehnerserien", "Teilermessung"});
    const auto& opt = table("wettb_opt_def");
    expect_rows(dump(stmt::kUploadWettbOptDef, "wettb_opt_def", "wbo"), opt, opt.rows,
                {"ID", "Erglist_id", "Option", "Wert_ST", "Wert_In", "Wert_float"});
    const auto& mt = table("mann_teiln");
    expect_rows(dump(stmt::kUploadMannTeiln, "mann_teiln", "mt"), mt, mt.rows, all_columns(mt));
    const auto& m = table("mannschaft");
    expect_rows(dump(stmt::kUploadMannschaft, "mannschaft", "m"), m, m.rows, all_columns(m));
    // the memo bemerkung is left out: five values per line
    const auto& va = table("Veranstaltung");
    expect_rows(dump(stmt::kUploadVeranstaltung, "veranstaltung", "va"), va, va.rows,
                {"ID", "Option", "Wert_int", "Wert_str", "Wert_float", "bemerkung"});
}

// Only lists whose selekt is not 1 (NULL included) are sent.
TEST_F(DumpDemoTest, ResultListsWithoutHiddenOnes) {
    const auto& t = table("wettb_def");
    size_t selekt = 0;
    while (lower(t.columns[selekt].name) != "selekt") ++selekt;
    std::vector<jet::Row> shown;
    size_t hidden = 0;
    for (const auto& row : t.rows) {
        const auto* v = std::get_if<int64_t>(&row[selekt]);
        if (v && *v == 1) ++hidden;
        else shown.push_back(row);
    }
    ASSERT_GT(hidden, 0u);
    ASSERT_GT(shown.size(), 0u);
    expect_rows(dump(stmt::kUploadWettbDef, "wettb_def", "wb"), t, shown,
                {"ID", "Titel", "Sortierung", "zeitstempel", "mannschaft"});
}

// Sorted by the Jet collation of the names, so compared as sets of lines; the constant column is '0'.
TEST_F(DumpDemoTest, StartersWithBothFiltersAndAssignmentsAsSets) {
    const auto& starter = table("starter");
    auto as_set = [](const std::vector<Statement>& lines) {
        std::multiset<std::vector<std::string>> out;
        for (const auto& s : lines) out.insert(s.values);
        return out;
    };
    auto expected = [&](auto keep) {
        std::multiset<std::vector<std::string>> out;
        for (const auto& row : starter.rows) {
            if (!keep(std::get<int64_t>(row[0]))) continue;
            std::vector<std::string> v;
            for (size_t i = 0; i < row.size(); ++i) v.push_back(expected_text(starter.columns[i].type, row[i]));
            // statement order: startnr, nachname, vorname, waffe, Vereinsnr, Klasse, 0
            out.insert({v[0], v[1], v[2], v[4], v[3], v[5], "'0'"});
        }
        return out;
    };
    ASSERT_EQ(lower(starter.columns[3].name), "vereinsnr");
    ASSERT_EQ(lower(starter.columns[4].name), "waffe");

    const auto all = dump(stmt::kUploadStarter, "starter", "s");
    EXPECT_EQ(all.size(), starter.rows.size());
    EXPECT_EQ(as_set(all), expected([](int64_t) { return true; }));

    std::set<int64_t> with_results;
    for (const auto& row : table("ergebnis").rows) with_results.insert(std::get<int64_t>(row[1]));
    const auto some = dump(stmt::kUploadStarterWithResults, "starter", "s");
    EXPECT_LT(some.size(), all.size());
    EXPECT_EQ(as_set(some), expected([&](int64_t nr) { return with_results.count(nr) > 0; }));

    const auto& z = table("zuordnung");
    std::multiset<std::vector<std::string>> want;
    for (const auto& row : z.rows) {
        std::vector<std::string> v;
        for (size_t i = 0; i < row.size(); ++i) v.push_back(expected_text(z.columns[i].type, row[i]));
        want.insert(v);
    }
    EXPECT_EQ(as_set(dump(stmt::kUploadZuordnung, "zuordnung", "z")), want);
}

// A few lines read literally, with values taken from the file by libmdb.
TEST_F(DumpDemoTest, LiteralLines) {
    const auto lines = dump(stmt::kUploadVeranstaltung, "veranstaltung", "va");
    const auto it = std::find_if(lines.begin(), lines.end(),
                                 [](const Statement& s) { return s.values.size() > 1 && s.values[1] == "'itdatum'"; });
    ASSERT_NE(it, lines.end());
    // Wert_str "dd.mm.yyyy hh:mm:ss" quoted, Wert_int NULL as '', Wert_float NULL as 0.0
    ASSERT_EQ(it->values.size(), 5u);
    EXPECT_EQ(it->values[2], "''");
    EXPECT_EQ(it->values[2 + 2], "0.0");
    EXPECT_EQ(it->values[3].size(), 21u) << it->values[3];
    const auto fee = std::find_if(lines.begin(), lines.end(),
                                  [](const Statement& s) { return s.values.size() > 1 && s.values[1] == "'Startgeld'"; });
    ASSERT_NE(fee, lines.end());
    EXPECT_EQ(fee->values[4], "8.5");

    // the club "SV Edelweiß & Alpenrose Überlingen" in Windows-1252
    bool found = false;
    for (const auto& s : dump(stmt::kUploadVerein, "verein", "v"))
        found = found || s.values[1] == "'SV Edelwei\xDF & Alpenrose \xDC" "berlingen'";
    EXPECT_TRUE(found);
}

// The upload dumps through a forward-only cursor; its lines are byte for byte those of the
// dump through a Query over the whole result, for every statement of the upload.
TEST_F(DumpDemoTest, CursorDumpIsByteIdenticalToQueryDump) {
    const std::pair<const char*, const char*> statements[] = {
        {stmt::kUploadStarter, "s"},    {stmt::kUploadStarterWithResults, "s"}, {stmt::kUploadRaenge, "r"},
        {stmt::kUploadVerein, "v"},     {stmt::kUploadErgebnis, "e"},          {stmt::kUploadZuordnung, "z"},
        {stmt::kUploadScheiben, "sc"},  {stmt::kUploadWettk, "w"},             {stmt::kUploadWettbDef, "wb"},
        {stmt::kUploadWettbOptDef, "wbo"}, {stmt::kUploadMannTeiln, "mt"},     {stmt::kUploadMannschaft, "m"},
        {stmt::kUploadVeranstaltung, "va"},
    };
    const auto connection = (*snapshot_)->connect();
    for (const auto& [statement, code] : statements) {
        SCOPED_TRACE(statement);
        upload::SqlDump d;
        d.table_name = "t";
        d.string_delim = "'";
        d.numeric_delim = "'";
        q.close();
        q.set_command(statement);
        q.open(connection.get());
        d.query = &q;
        std::ostringstream through_query, through_cursor;
        const size_t n = d.dump_to(through_query, code);
        db::RowCursor rows(connection.get(), statement);
        EXPECT_EQ(d.dump_to(rows, through_cursor, code), n);
        EXPECT_GT(n, 0u);
        EXPECT_TRUE(through_cursor.str() == through_query.str());
        EXPECT_EQ(through_cursor.str().size(), through_query.str().size());
    }
}
