// The batches of live publishing: the per-table multiset difference, splitting a dump into
// lines, and the JSON body as the site reads it.
#include "upload/change_batch.h"
#include "upload/live_dump.h"

#include <gtest/gtest.h>

#include "site/change_batch_json.h"

using namespace ringolan;
using upload::TableDiff;
using upload::TablesDump;
using Lines = std::vector<std::string>;

namespace {

// The values of each row a change inserts.
std::vector<std::vector<site::Value>> inserted(const site::TableChange& change) {
    std::vector<std::vector<site::Value>> out;
    site::for_each_insert(change, [&](const site::StatementView& v) { out.push_back(site::statement_of(v).values); });
    return out;
}

}  // namespace

TEST(ChangeBatch, DiffIsTheMultisetDifferencePerTable) {
    struct Case {
        const char* name;
        TablesDump before, after;
        std::vector<TableDiff> expected;
    };
    const Lines ten{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
    Lines ten_changed = ten;
    ten_changed[3] = "4x";
    Lines ten_most_changed{"1", "2", "3", "4", "a", "b", "c", "d", "e", "f"};
    const Case cases[] = {
        {"equal tables are left out", {{"v", {"a", "b"}}}, {{"v", {"a", "b"}}}, {}},
        {"order alone is no change", {{"v", {"a", "b"}}}, {{"v", {"b", "a"}}}, {}},
        {"a changed line", {{"v", ten}}, {{"v", ten_changed}}, {{"v", false, {"4"}, {"4x"}}}},
        {"repeated lines count", {{"v", ten}, {"e", {"a", "a", "b", "x", "y"}}},
         {{"v", ten}, {"e", {"a", "b", "b", "x", "y"}}}, {{"e", false, {"a"}, {"b"}}}},
        {"inserts in dump order", {{"v", ten}}, {{"v", [&] { Lines l{"z", "w"}; l.insert(l.end(), ten.begin(), ten.end()); return l; }()}},
         {{"v", false, {}, {"z", "w"}}}},
        {"more than half changed is sent whole", {{"v", ten}}, {{"v", ten_most_changed}},
         {{"v", true, {}, ten_most_changed}}},
        {"a line moved to the end is no change", {{"v", ten}},
         {{"v", [&] { Lines l(ten.begin() + 1, ten.end()); l.push_back("1"); return l; }()}}, {}},
        {"a last line repeated", {{"v", ten}}, {{"v", [&] { Lines l = ten; l.push_back("10"); return l; }()}},
         {{"v", false, {}, {"10"}}}},
        {"one of equal lines gone", {{"v", {"a", "a", "a", "b"}}}, {{"v", {"a", "a", "b"}}}, {{"v", false, {"a"}, {}}}},
        {"a table only after", {}, {{"v", {"a"}}}, {{"v", true, {}, {"a"}}}},
        {"a table only before", {{"v", {"a"}}}, {}, {{"v", true, {}, {}}}},
        {"an emptied table", {{"v", {"a"}}}, {{"v", {}}}, {{"v", true, {}, {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<TableDiff> got = upload::diff_tables(c.before, c.after);
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].code, c.expected[i].code);
            EXPECT_EQ(got[i].replace, c.expected[i].replace);
            EXPECT_EQ(got[i].deletes, c.expected[i].deletes);
            EXPECT_EQ(got[i].inserts, c.expected[i].inserts);
        }
    }
}

TEST(ChangeBatch, DumpSplitsAtLineEndsBeforeTheNextStatement) {
    const struct {
        std::string dump;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"#*iv#*'1','a');\r\n", {"#*iv#*'1','a');"}},
        {"#*iv#*'1','a');\r\n#*iv#*'2','b');\r\n", {"#*iv#*'1','a');", "#*iv#*'2','b');"}},
        {"#*iv#*'1','zwei\r\nZeilen');\r\n#*iv#*'2','\r\n');\r\n", {"#*iv#*'1','zwei\r\nZeilen');", "#*iv#*'2','\r\n');"}},
    };
    for (const auto& c : cases) EXPECT_EQ(upload::split_dump(c.dump), c.lines) << c.dump;
}

TEST(ChangeBatch, JsonCarriesWindows1252LinesAsTheSiteReadsThem) {
    const std::string line = "#*iv#*'1','M\xfc\\'ller \x80','x\r\ny\t\"z\"\x01\\\\x');";
    upload::OutgoingBatch batch{"s-1", 4, 5, {{"v", false, {line}, {line, line}}, {"e", true, {}, {}}}};
    const site::ChangeBatch read = site::parse_change_batch(upload::batch_json(batch));
    EXPECT_EQ(read.stream, "s-1");
    EXPECT_EQ(read.base, 4);
    EXPECT_EQ(read.sequence, 5);
    ASSERT_EQ(read.tables.size(), 2u);
    const site::Statement expected = site::parse_statement(line);
    ASSERT_EQ(read.tables[0].deletes.size(), 1u);
    EXPECT_EQ(read.tables[0].deletes[0].values, expected.values);
    ASSERT_EQ(inserted(read.tables[0]).size(), 2u);
    EXPECT_EQ(inserted(read.tables[0])[1], expected.values);
    EXPECT_FALSE(read.tables[0].replace);
    EXPECT_TRUE(read.tables[1].replace);
    EXPECT_EQ(batch.deleted(), 1u);
    EXPECT_EQ(batch.inserted(), 2u);
}

TEST(ChangeBatch, SiteSkipsUnknownFieldsAndChecksEachEntryWhole) {
    // Fields in any order, unknown ones (nested too) passed over.
    const site::ChangeBatch read = site::parse_change_batch(
        R"({"x":{"tables":[1],"base":"a"},"tables":[{"inserts":["#*iv#*'1');"],"y":[[{}]],"code":"v"},)"
        R"({"code":"e","replace":true,"deletes":["#*ie#*'2');"]}],"sequence":3,"stream":"s","base":2})");
    EXPECT_EQ(read.base, 2);
    EXPECT_EQ(read.sequence, 3);
    ASSERT_EQ(read.tables.size(), 2u);
    EXPECT_EQ(read.tables[0].code, "v");
    EXPECT_FALSE(read.tables[0].replace);
    ASSERT_EQ(inserted(read.tables[0]).size(), 1u);
    EXPECT_EQ(inserted(read.tables[0])[0], site::parse_statement("#*iv#*'1');").values);
    EXPECT_TRUE(read.tables[1].replace);
    EXPECT_EQ(read.tables[1].deletes.size(), 1u);
    const std::string bad[] = {
        R"({"stream":"s","base":0,"sequence":1,"tables":[{"inserts":["#*iv#*'1');"],"code":"e"}]})",
        R"({"stream":"s","base":0,"sequence":1,"tables":[{"inserts":["#*iv#*'1');"]}]})",
        R"({"stream":"s","base":0,"sequence":1,"tables":[{"code":"v","inserts":[1]}]})",
        R"({"stream":"s","base":0,"sequence":1,"tables":[{"code":"v","inserts":["#*iv#*'1');x"]}]})",
        R"({"stream":"s","base":"0","sequence":1,"tables":[]})",
        R"({"stream":"s","sequence":1,"tables":[]})",
        R"({"stream":"s","base":0,"sequence":1,"tables":[[]]})",
        R"([{"stream":"s","base":0,"sequence":1,"tables":[]}])",
        R"({"stream":"s","base":0,"sequence":1,"tables":[]})"  "x",
    };
    for (const std::string& body : bad) EXPECT_THROW(site::parse_change_batch(body), site::BatchFormatError) << body;
}

TEST(ChangeBatch, TablesAreReadAgainWhenTheirStatementNamesAChangedTable) {
    // Every table the statements read, by the names the file gives them, and none they do not.
    const struct {
        upload::StarterFilter filter;
        std::string code, changed;
        bool reads;
    } cases[] = {
        {upload::StarterFilter::All, "s", "Starter", true},
        {upload::StarterFilter::All, "s", "Ergebnis", false},
        {upload::StarterFilter::WithResults, "s", "ERGEBNIS", true},
        {upload::StarterFilter::All, "v", "Verein", true},
        {upload::StarterFilter::All, "r", "Verein", false},  // "Vereinsnr" is a column elsewhere
        {upload::StarterFilter::All, "wb", "wettb_def", true},
        {upload::StarterFilter::All, "wbo", "wettb_def", false},
        {upload::StarterFilter::All, "wbo", "Wettb_Opt_Def", true},
        {upload::StarterFilter::All, "m", "mann_teiln", false},
        {upload::StarterFilter::All, "mt", "mann_teiln", true},
    };
    for (const auto& c : cases) {
        const auto tables = upload::upload_tables(c.filter);
        const auto t = std::find_if(tables.begin(), tables.end(), [&](const auto& u) { return u.code == c.code; });
        ASSERT_NE(t, tables.end());
        EXPECT_EQ(upload::statement_reads(t->statement, c.changed), c.reads) << c.code << " " << c.changed;
    }
}
