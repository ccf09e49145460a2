#include "db/query/row_cursor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/db/sql/jet_statements.h"
#include "tests/db/sql/jet_test_db.h"

using namespace ringolan::testing;
using namespace ringolan::db;

namespace {

class RowCursorTest : public ::testing::Test {
protected:
    void SetUp() override {
        create_schema(db.get());
        fill_competition(db.get());
    }
    DbPtr db = open_jet_db();
};

// A reading of a field as text, or the error it gives.
template <class F>
std::string real_or_error(const F& f) {
    try {
        return std::to_string(f.as_real()) + "/" + std::to_string(f.as_int());
    } catch (const QueryError& e) {
        return std::string("error: ") + e.what();
    }
}

// Steps a cursor and a Query over the same statement side by side: same rows, same readings.
void expect_same_as_query(sqlite3* db, const char* statement, std::vector<Param> params = {}) {
    SCOPED_TRACE(statement);
    Query q;
    q.set_command(statement);
    q.open(db, params);
    RowCursor c(db, statement, params);
    ASSERT_EQ(c.field_count(), q.field_count());
    for (size_t i = 0; i < q.field_count(); ++i) {
        EXPECT_EQ(c.field(i).name(), q.field(i).name());
        EXPECT_EQ(c.field(i).type(), q.field(i).type()) << q.field(i).name();
        EXPECT_EQ(c.field(i).declared_type(), q.field(i).declared_type());
    }
    size_t row = 0;
    for (q.first(); !q.at_end(); q.next(), c.next(), ++row) {
        ASSERT_FALSE(c.at_end()) << "row " << row;
        for (size_t i = 0; i < q.field_count(); ++i) {
            const RowField a = c.field(i);
            const Field b = q.field(i);
            EXPECT_EQ(a.as_text(), b.as_text()) << "row " << row << " " << b.name();
            EXPECT_EQ(a.is_null(), b.is_null()) << "row " << row << " " << b.name();
            EXPECT_EQ(real_or_error(a), real_or_error(b)) << "row " << row << " " << b.name();
        }
    }
    EXPECT_TRUE(c.at_end());
    c.next();  // no effect at the end
    EXPECT_TRUE(c.at_end());
}

}  // namespace

// Every upload statement and some with numbers, yes/no, dates, currency and memo read the same.
TEST_F(RowCursorTest, ReadsEveryFieldAsQueryDoes) {
    for (const char* s : {jet::kUploadStarter, jet::kUploadStarterWithResults, jet::kUploadRaenge, jet::kUploadVerein,
                          jet::kUploadErgebnis, jet::kUploadZuordnung, jet::kUploadScheiben, jet::kUploadWettk,
                          jet::kUploadWettbDef, jet::kUploadWettbOptDef, jet::kUploadMannTeiln, jet::kUploadMannschaft,
                          jet::kUploadVeranstaltung, "SELECT * FROM wettb_def ORDER BY ID", jet::kClubCounts})
        expect_same_as_query(db.get(), s);
    expect_same_as_query(db.get(), jet::kListRanks, {"1"});
    expect_same_as_query(db.get(), jet::kListRanks, {"2"});
}

// A computed column that is NULL in the first rows takes the type of its first value further
// on, as a Query that has read the whole result gives it; all NULL stays Null.
TEST_F(RowCursorTest, ComputedColumnsTypedByTheirFirstValueAnywhere) {
    // selekt of lists 1..4: NULL, NULL, 1, 0
    const char* statement = "SELECT ID, selekt + 0 AS s, selekt * 1.5 AS r, \"x\" AS t FROM wettb_def ORDER BY ID";
    RowCursor c(db.get(), statement);
    EXPECT_EQ(c.field(1).type(), FieldType::Integer);
    EXPECT_EQ(c.field(2).type(), FieldType::Real);
    EXPECT_EQ(c.field(3).type(), FieldType::Text);
    EXPECT_TRUE(c.field(1).is_null());
    EXPECT_EQ(c.field(2).as_text(), "");
    c.next();
    c.next();
    EXPECT_EQ(c.field(2).as_text(), "1,5");
    expect_same_as_query(db.get(), statement);

    RowCursor none(db.get(), "SELECT selekt + 0 FROM wettb_def WHERE ID < 3");
    EXPECT_EQ(none.field(0).type(), FieldType::Null);
    expect_same_as_query(db.get(), "SELECT selekt + 0 FROM wettb_def WHERE ID < 3");
}

TEST_F(RowCursorTest, EmptyResultParametersAndErrors) {
    RowCursor empty(db.get(), "SELECT Name, 1 + Vereinsnr FROM verein WHERE Vereinsnr = ?", {"77"});
    EXPECT_TRUE(empty.at_end());
    EXPECT_EQ(empty.field_count(), 2u);
    EXPECT_TRUE(empty.field(0).is_null());
    EXPECT_EQ(empty.field(0).as_text(), "");

    RowCursor one(db.get(), "SELECT Name FROM verein WHERE Vereinsnr = ?", {"12"});
    ASSERT_FALSE(one.at_end());
    EXPECT_EQ(one.field(0).as_text(), "Sch\xFCtzenverein Wei\xDF");  // Windows-1252
    EXPECT_THROW(one.field(0).as_real(), QueryError);
    EXPECT_THROW(one.field(1), QueryError);
    one.next();
    EXPECT_TRUE(one.at_end());
    EXPECT_TRUE(one.field(0).is_null());  // past the end: NULL (a cursor keeps no row)

    // The same words as Query's errors.
    auto error_of = [&](const char* statement, std::vector<Param> params, bool cursor) {
        try {
            if (cursor) RowCursor c(db.get(), statement, params);
            else {
                Query q;
                q.set_command(statement);
                q.open(db.get(), params);
            }
        } catch (const QueryError& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    for (const char* s : {"SELECT * FROM gibtsnicht", "SELECT Name FROM verein WHERE Vereinsnr = ?", "SELECT a & b FROM verein"}) {
        const std::string e = error_of(s, {}, true);
        EXPECT_EQ(e, error_of(s, {}, false));
        EXPECT_NE(e.find(s), std::string::npos) << e;
    }
    EXPECT_NE(error_of("SELECT Name FROM verein", {"1"}, true).find("erwartet 0 Werte, erhalten 1"), std::string::npos);
}
