// Live batches on both stores: which batches apply, how deleted rows are matched, replace
// and stream starts, and that a failed batch changes nothing.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_stores.h"

using namespace ringolan::site;
using site_test::gzip;

namespace {

std::vector<Statement> lines(std::initializer_list<const char*> texts) {
    std::vector<Statement> out;
    for (const char* t : texts) out.push_back(parse_statement(t));
    return out;
}

ChangeBatch batch(std::string stream, std::int64_t base, std::vector<TableChange> tables = {}) {
    return {std::move(stream), base, base + 1, std::move(tables)};
}

class LiveStoreTest : public site_test::StoreFixture {
protected:
    ChangeResult apply(const ChangeBatch& b) { return store->apply_changes("c1", b); }
    // The rows of a table as sorted texts, "|" between values and "~" for NULL.
    std::vector<std::string> rows(std::string_view table) {
        std::vector<std::string> out;
        const TableRows held = store->rows("c1", table, 1000).value();
        for (const auto& row : held.rows) {
            std::string text;
            for (const auto& v : row) text += (text.empty() ? "" : "|") + v.value_or("~");
            out.push_back(text);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    // Starts stream "s" with verein holding the given lines.
    void start(std::initializer_list<const char*> verein) {
        ASSERT_EQ(apply(batch("s", 0, {{"v", true, {}, lines(verein)}})).outcome, ChangeOutcome::applied);
    }
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_P(LiveStoreTest, BatchesApplyInOrderOnceAndOnlyOnTheirState) {
    struct Step {
        const char* stream;
        std::int64_t base;
        ChangeOutcome outcome;
        std::int64_t sequence_after;
        std::size_t rows_after;  // of verein: each applied batch adds one row
    };
    const Step steps[] = {
        {"a", 1, ChangeOutcome::conflict, 0, 0},   // no stream yet
        {"a", 0, ChangeOutcome::applied, 1, 1},    // starts a
        {"a", 0, ChangeOutcome::duplicate, 1, 1},  // the same batch again
        {"a", 1, ChangeOutcome::applied, 2, 2},
        {"a", 1, ChangeOutcome::duplicate, 2, 2},
        {"a", 0, ChangeOutcome::conflict, 2, 2},   // an old start of the same stream
        {"a", 3, ChangeOutcome::conflict, 2, 2},   // a gap
        {"b", 2, ChangeOutcome::conflict, 2, 2},   // another stream's sequence
        {"b", 0, ChangeOutcome::applied, 1, 1},    // a new stream starts over every table
        {"b", 1, ChangeOutcome::applied, 2, 2},
    };
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.stream) + " base " + std::to_string(s.base) + " step " + std::to_string(n));
        const std::string line = "#*iv#*'" + std::to_string(++n) + "','x');";
        const ChangeResult r = apply(batch(s.stream, s.base, {{"v", false, {}, {parse_statement(line)}}}));
        EXPECT_EQ(r.outcome, s.outcome);
        EXPECT_EQ(r.state.sequence, s.sequence_after);
        EXPECT_EQ(store->live_state("c1").sequence, s.sequence_after);
        EXPECT_EQ(rows("verein").size(), s.rows_after);
    }
    EXPECT_EQ(store->live_state("c1").stream, "b");
}

TEST_P(LiveStoreTest, DeletesRemoveOneEqualRowMatchedAsTheLoadStoresIt) {
    struct Case {
        const char* name;
        std::vector<const char*> held;  // verein before
        const char* deleted;
        bool matches;
        Strings after;
    };
    const Case cases[] = {
        {"one of two equal rows", {"#*iv#*'1','A');", "#*iv#*'1','A');"}, "#*iv#*'1','A');", true, {"1|A"}},
        {"bare NULL matches empty text", {"#*iv#*'1',);", "#*iv#*'2','B');"}, "#*iv#*'1','');", true, {"2|B"}},
        {"a short row matches NULLs beyond it", {"#*iv#*'1');", "#*iv#*'1','A');"}, "#*iv#*'1');", true, {"1|A"}},
        {"NULL does not match text", {"#*iv#*'1','A');"}, "#*iv#*'1',);", false, {"1|A"}},
        {"a number is not quoted digits", {"#*iv#*'1','A');"}, "#*iv#*1,'A');", false, {"1|A"}},
        {"every value counts", {"#*iv#*'1','A');"}, "#*iv#*'1','a');", false, {"1|A"}},
        {"decoded and converted text", {"#*iv#*'1','M\xfc\\'s');"}, "#*iv#*'1','M\xfc\\'s');", true, {}},
        {"reals compare as stored", {"#*iv#*'1',9.8);"}, "#*iv#*'1',9.80);", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store->delete_all("c1");
        std::vector<Statement> held;
        for (const char* h : c.held) held.push_back(parse_statement(h));
        ASSERT_EQ(apply(batch("s", 0, {{"v", true, {}, held}})).outcome, ChangeOutcome::applied);
        const ChangeResult r = apply(batch("s", 1, {{"v", false, {parse_statement(c.deleted)}, {}}}));
        EXPECT_EQ(r.outcome, c.matches ? ChangeOutcome::applied : ChangeOutcome::conflict);
        EXPECT_EQ(rows("verein"), c.after);
        EXPECT_EQ(store->live_state("c1").sequence, c.matches ? 2 : 1);
    }
}

TEST_P(LiveStoreTest, ReplaceAndStreamStartEmptyTablesOthersStay) {
    start({"#*iv#*'1','A');", "#*iv#*'2','B');"});
    ASSERT_EQ(apply(batch("s", 1, {{"e", false, {}, lines({"#*ie#*'7','1','3');"})}})).outcome,
              ChangeOutcome::applied);
    // Replace: only the inserts remain, in a table widened for them; other tables are kept.
    ASSERT_EQ(apply(batch("s", 2, {{"v", true, {}, lines({"#*iv#*'3','C','x');"})}})).outcome,
              ChangeOutcome::applied);
    EXPECT_EQ(rows("verein"), (Strings{"3|C|x"}));
    EXPECT_EQ(rows("ergebnis"), (Strings{"7|1|3"}));
    // Deletes and inserts of one batch, across tables.
    ASSERT_EQ(apply(batch("s", 3, {{"v", false, lines({"#*iv#*'3','C','x');"}), lines({"#*iv#*'4','D');"})},
                                   {"e", false, {}, lines({"#*ie#*'8','2','3');"})}}))
                  .outcome,
              ChangeOutcome::applied);
    EXPECT_EQ(rows("verein"), (Strings{"4|D|~"}));
    EXPECT_EQ(rows("ergebnis"), (Strings{"7|1|3", "8|2|3"}));
    // A new stream starts from nothing, also for tables it does not name.
    ASSERT_EQ(apply(batch("t", 0, {{"v", true, {}, lines({"#*iv#*'5','E');"})}})).outcome, ChangeOutcome::applied);
    EXPECT_EQ(rows("verein"), (Strings{"5|E|~"}));
    EXPECT_EQ(rows("ergebnis"), Strings{});
}

TEST_P(LiveStoreTest, AFailingBatchChangesNothing) {
    start({"#*iv#*'1','A');"});
    const auto unchanged = [&] {
        EXPECT_EQ(rows("verein"), (Strings{"1|A"}));
        EXPECT_EQ(rows("ergebnis"), Strings{});
        EXPECT_EQ(store->live_state("c1").sequence, 1);
    };
    // An unknown table code after good changes.
    EXPECT_THROW(apply(batch("s", 1, {{"v", false, lines({"#*iv#*'1','A');"}), lines({"#*iv#*'2','B');"})},
                                      {"qq", false, {}, lines({"#*iqq#*'1');"})}})),
                 DumpError);
    unchanged();
    // A row of another table inside an entry.
    EXPECT_THROW(apply(batch("s", 1, {{"e", false, {}, lines({"#*ie#*'7','1','3');", "#*iv#*'2','B');"})}})),
                 DumpError);
    unchanged();
    // A deleted row that is not held, after inserts into another table.
    EXPECT_EQ(apply(batch("s", 1, {{"e", false, {}, lines({"#*ie#*'7','1','3');"})},
                                   {"v", false, lines({"#*iv#*'9','Z');"}), {}}}))
                  .outcome,
              ChangeOutcome::conflict);
    unchanged();
    EXPECT_THROW(apply({"s", 1, 3, {}}), StoreError);  // sequence not base + 1
    unchanged();
}

TEST_P(LiveStoreTest, ClassicLoadAndDeleteEndTheStream) {
    start({"#*iv#*'1','A');"});
    store->store_upload("c1", gzip("#*iv#*'2','B');\r\n"));
    store->load_upload("c1");
    EXPECT_EQ(store->live_state("c1").stream, "");
    EXPECT_EQ(apply(batch("s", 1)).outcome, ChangeOutcome::conflict);
    start({"#*iv#*'1','A');"});
    store->delete_all("c1");
    EXPECT_EQ(store->live_state("c1").stream, "");
    EXPECT_EQ(rows("verein"), Strings{});
}

SITE_STORE_KINDS(LiveStoreTest);
