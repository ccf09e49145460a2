#include "db/sql/jet_functions.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/db/sql/jet_test_db.h"

using namespace ringolan::testing;

namespace {

// First column of every row as text ("NULL" for NULL); "?" bound to the given texts in order.
std::vector<std::string> column(sqlite3* db, const std::string& sql, const std::vector<std::string>& params = {}) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in: " + sql);
    const ringolan::sqlite::StmtHandle guard(st);
    for (size_t i = 0; i < params.size(); ++i) sqlite3_bind_text(st, int(i + 1), params[i].c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::string> out;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const auto* t = sqlite3_column_text(st, 0);
        out.push_back(t ? reinterpret_cast<const char*>(t) : "NULL");
    }
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    return out;
}

class JetFunctions : public ::testing::Test {
protected:
    void SetUp() override {
        exec(db.get(), "CREATE TABLE n (id LONG, name TEXT COLLATE JET);");
    }
    void names(const std::vector<std::string>& list) {
        int id = 0;
        for (const auto& s : list) exec(db.get(), "INSERT INTO n VALUES (" + std::to_string(++id) + ", '" + s + "');");
    }
    std::vector<std::string> q(const std::string& sql, const std::vector<std::string>& params = {}) {
        return column(db.get(), sql, params);
    }
    DbPtr db = open_jet_db();
};

using Strings = std::vector<std::string>;

}  // namespace

// German dictionary order: case ignored, an umlaut sorts with its base letter and right after
// it when the words are otherwise equal; byte order would put "Ä", "Ö" after "Z".
TEST_F(JetFunctions, OrderByGermanNames) {
    names({"Ärger", "Arger", "Zabel", "abel", "Özdemir", "Ober", "Weiß", "Äpfel", "Muller", "Müller", "Mullers", "Zz"});
    EXPECT_EQ(q("SELECT name FROM n ORDER BY name"),
              (Strings{"abel", "Äpfel", "Arger", "Ärger", "Muller", "Müller", "Mullers", "Ober", "Özdemir", "Weiß", "Zabel", "Zz"}));
    EXPECT_EQ(q("SELECT name FROM n ORDER BY name DESC LIMIT 3"), (Strings{"Zz", "Zabel", "Weiß"}));
}

// Blanks sort before digits, digits before letters; a shorter word before its continuations.
TEST_F(JetFunctions, BlanksAndDigitsSortFirst) {
    names({"ab", "A", "a b", "1", " A", "10", "9"});
    EXPECT_EQ(q("SELECT name FROM n ORDER BY name"), (Strings{" A", "1", "10", "9", "A", "a b", "ab"}));
}

// Texts of digits alone (compared without the collator) sort as they do behind a letter, where
// the collator compares them: no numeric order, "10" before "9", "01" apart from "1".
TEST_F(JetFunctions, DigitsAloneSortAsTheCollatorSortsThem) {
    Strings list = {"", "0", "00", "01", "1", "10", "100", "19", "9", "90", "099", "0815", "815"};
    for (unsigned x = 7, i = 0; i < 60; ++i, x = x * 1103515245u + 12345u) list.push_back(std::to_string(x % 100000).substr((x >> 20) % 3));
    names(list);
    EXPECT_EQ(q("SELECT name FROM n ORDER BY name, id"), q("SELECT name FROM n ORDER BY 'x' || name COLLATE JET, id"));
    EXPECT_EQ(q("SELECT count(DISTINCT name) FROM n"), q("SELECT count(DISTINCT 'x' || name COLLATE JET) FROM n"));
}

// "ß" equals "ss" (Weiß = Weiss): both sort together and the tie is broken by the next key.
TEST_F(JetFunctions, SharpSEqualsDoubleS) {
    names({"Weiss", "Weiß", "Weist", "Weis"});
    EXPECT_EQ(q("SELECT name FROM n ORDER BY name, id DESC"), (Strings{"Weis", "Weiß", "Weiss", "Weist"}));
    EXPECT_EQ(q("SELECT id FROM n WHERE name = 'WEISS' ORDER BY id"), (Strings{"1", "2"}));
    EXPECT_EQ(q("SELECT count(DISTINCT name) FROM n"), (Strings{"3"}));
}

TEST_F(JetFunctions, EqualityIgnoresCaseButNotUmlauts) {
    names({"Müller", "Muller", "MÜLLER", "müller", "Mueller"});
    EXPECT_EQ(q("SELECT id FROM n WHERE name = ? ORDER BY id", {"müLLer"}), (Strings{"1", "3", "4"}));
    EXPECT_EQ(q("SELECT id FROM n WHERE name = ? ORDER BY id", {"MULLER"}), (Strings{"2"}));
    EXPECT_EQ(q("SELECT id FROM n WHERE name <> 'muller' ORDER BY id"), (Strings{"1", "3", "4", "5"}));
    // a join compares with the column's collation too
    exec(db.get(), "CREATE TABLE m (name TEXT COLLATE JET); INSERT INTO m VALUES ('MUELLER');");
    EXPECT_EQ(q("SELECT n.id FROM n INNER JOIN m ON n.name = m.name"), (Strings{"5"}));
}

TEST_F(JetFunctions, GroupByAndDistinctFoldCase) {
    names({"abel", "Abel", "ABEL", "Äbel", "äBEL", "Zabel"});
    EXPECT_EQ(q("SELECT count(*) FROM n GROUP BY name ORDER BY name"), (Strings{"3", "2", "1"}));
    EXPECT_EQ(q("SELECT count(*) FROM (SELECT DISTINCT name FROM n)"), (Strings{"3"}));
}

TEST_F(JetFunctions, NullsSortFirstAndNeverEqual) {
    names({"b", "A"});
    exec(db.get(), "INSERT INTO n VALUES (3, NULL);");
    EXPECT_EQ(q("SELECT name FROM n ORDER BY name"), (Strings{"NULL", "A", "b"}));
    EXPECT_EQ(q("SELECT id FROM n WHERE name = NULL"), Strings{});
    EXPECT_EQ(q("SELECT id FROM n WHERE name is null"), (Strings{"3"}));
}

TEST_F(JetFunctions, LikeWildcardsAndCase) {
    names({"Müller", "Muller", "müller", "Meier", "", "Mü", "aXbYbZc", "[a]bc", "abc", "100%"});
    auto like = [&](const std::string& pattern) { return q("SELECT id FROM n WHERE name like ? ORDER BY id", {pattern}); };
    EXPECT_EQ(like("M%"), (Strings{"1", "2", "3", "4", "6"}));
    EXPECT_EQ(like("m_ller"), (Strings{"1", "2", "3"}));  // "_" is one character, also "ü"
    EXPECT_EQ(like("MÜ%"), (Strings{"1", "3", "6"}));      // case of the umlaut ignored
    EXPECT_EQ(like("mu%"), (Strings{"2"}));                // "u" does not match "ü"
    EXPECT_EQ(like("%LER"), (Strings{"1", "2", "3"}));
    EXPECT_EQ(like("M__"), Strings{});
    EXPECT_EQ(like("M_"), (Strings{"6"}));
    EXPECT_EQ(like(""), (Strings{"5"}));
    EXPECT_EQ(like("%").size(), 10u);
    EXPECT_EQ(like("a%b%c"), (Strings{"7", "9"}));        // backtracking over the first "b"
    EXPECT_EQ(like("a%bZc"), (Strings{"7"}));
    EXPECT_EQ(like("[a]%"), (Strings{"8"}));               // no character lists: "[" is itself
    EXPECT_EQ(like("100%"), (Strings{"10"}));
    EXPECT_EQ(like("%%%r"), (Strings{"1", "2", "3", "4"}));
    // the operator form and the function form are the same function
    EXPECT_EQ(q("SELECT like('ab_', 'ABC') + 2 * like('ab', 'abc') + 4 * ('Ärger' LIKE 'ä%')"), (Strings{"5"}));
}

TEST_F(JetFunctions, LikeWithNullGivesNull) {
    EXPECT_EQ(q("SELECT like(NULL, 'a')"), (Strings{"NULL"}));
    EXPECT_EQ(q("SELECT 'a' LIKE NULL"), (Strings{"NULL"}));
    EXPECT_EQ(q("SELECT 12 LIKE '1%'"), (Strings{"1"}));  // numbers compare as their text
    EXPECT_THROW(q("SELECT 'a' LIKE 'a' ESCAPE '!'"), std::runtime_error);
}

// A misspelled name in double quotes stays an error instead of becoming a string.
TEST_F(JetFunctions, DoubleQuotedNameIsNeverAString) {
    EXPECT_THROW(q("SELECT \"nosuchcolumn\" FROM n"), std::runtime_error);
}

// Every connection has its own collator; connections on several threads sort at once, and
// closing one connection leaves the others working.
TEST(JetCollation, ConnectionsOnSeveralThreads) {
    const std::vector<std::string> expected{"abel", "Arger", "Ärger", "Özdemir", "Zabel"};
    auto work = [&](bool* ok) {
        for (int round = 0; round < 20; ++round) {
            DbPtr db = open_jet_db();
            exec(db.get(), "CREATE TABLE n (name TEXT COLLATE JET);"
                           "INSERT INTO n VALUES ('Zabel'),('Özdemir'),('Ärger'),('abel'),('Arger');");
            if (column(db.get(), "SELECT name FROM n ORDER BY name") != expected) *ok = false;
        }
    };
    bool ok[4] = {true, true, true, true};
    std::vector<std::thread> threads;
    for (bool& o : ok) threads.emplace_back(work, &o);
    for (auto& t : threads) t.join();
    for (bool o : ok) EXPECT_TRUE(o);
}
