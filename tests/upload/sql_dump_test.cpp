#include "upload/sql_dump.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "db/jet/writer.h"
#include "tests/upload/upload_fixture.h"

using namespace ringolan;
using namespace ringolan::test_upload;
using upload::DumpType;
using upload::SqlDump;
using jet::ColumnType;
using Lines = std::vector<std::string>;

namespace {

// A file with a table of every column type the writer knows, and the example table of the
// dump's description (a whole number, a text and a real).
class SqlDumpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        jet::DatabaseWriter w;
        auto& t = w.add_table("typen", {{"ID", ColumnType::Long},
                                        {"B", ColumnType::Byte},
                                        {"I", ColumnType::Integer},
                                        {"L", ColumnType::Long},
                                        {"Ja", ColumnType::Boolean},
                                        {"Geld", ColumnType::Currency},
                                        {"S", ColumnType::Single},
                                        {"D", ColumnType::Double},
                                        {"Zeit", ColumnType::DateTime},
                                        {"T", ColumnType::Text, 50},
                                        {"M", ColumnType::Memo},
                                        {"O", ColumnType::Ole}});
        const jet::Null null;
        t.add_row({int64_t(1), int64_t(200), int64_t(-32768), int64_t(2147483647), false, jet::Currency{125000},
                   double(9.75f), 12345.67, jet::make_datetime(2023, 3, 15, 12, 0, 0), std::string("O'Neil"),
                   std::string("Memo"), null});
        t.add_row({int64_t(2), null, null, int64_t(-7), true, null, null, -0.25, jet::make_datetime(2023, 3, 15),
                   null, null, null});
        t.add_row({int64_t(3), int64_t(0), int64_t(5), int64_t(0), false, jet::Currency{30000}, double(0.25f), 0.04,
                   null, std::string("'"), std::string("x"), null});
        t.add_row({int64_t(4), int64_t(255), int64_t(32767), int64_t(-2147483648LL), true, jet::Currency{-1},
                   double(-2500000.0f), 123456.7, jet::make_datetime(1899, 12, 30), std::string("a\\b\r\nc"), null,
                   null});
        t.add_row({int64_t(5), null, null, null, false, null, null, 123.45678, jet::make_datetime(2024, 1, 2, 7, 8, 9),
                   std::string("M\xC3\xBCller"), null, null});
        auto& e = w.add_table("beispiel", {{"Nr", ColumnType::Long}, {"Name", ColumnType::Text, 50}, {"Wert", ColumnType::Double}});
        e.add_row({int64_t(17), std::string("O'Neil"), 9.75});
        const auto file = scratch_dir() / "typen.mdb";
        w.save(file);
        snapshot_ = new std::shared_ptr<const db::Snapshot>(snapshot_of(file));
    }
    static void TearDownTestSuite() {
        delete snapshot_;
        snapshot_ = nullptr;
    }

    void open(const char* sql) {
        q.close();
        q.set_command(sql);
        q.open(**snapshot_);
    }
    // A dump writer with the upload's delimiters on q.
    SqlDump upload_writer() {
        SqlDump d;
        d.query = &q;
        d.table_name = "typen";
        d.string_delim = "'";
        d.numeric_delim = "'";
        return d;
    }

    static std::shared_ptr<const db::Snapshot>* snapshot_;
    db::Query q;
};

std::shared_ptr<const db::Snapshot>* SqlDumpTest::snapshot_ = nullptr;

}  // namespace

TEST_F(SqlDumpTest, ExampleRowOfTheDescription) {
    open("select * from beispiel");
    SqlDump d = upload_writer();
    d.dump("x");
    EXPECT_EQ(d.lines(), (Lines{"#*ix#*'17','O\\'Neil',9.8);"}));
}

// Every column type with the upload's delimiters: whole numbers quoted, reals bare in one-decimal
// form, currency bare with its comma, yes/no reversed, dates quoted, memo and OLE left out.
TEST_F(SqlDumpTest, EveryColumnTypeWithTheUploadDelimiters) {
    open("select * from typen order by ID");
    SqlDump d = upload_writer();
    d.dump("t");
    EXPECT_EQ(d.lines(), (Lines{
                           "#*it#*'1','200','-32768','2147483647',-1,12,5,9.8,12346.0,'15.03.2023 12:00:00','O\\'Neil');",
                           "#*it#*'2','','','-7',0,,0.0,-0.3,'15.03.2023','');",
                           "#*it#*'3','0','5','0',-1,3,0.3,0.0,'','\\'');",
                           "#*it#*'4','255','32767','-2147483648',0,-0,0001,-2.5E6,1.2346E5,'30.12.1899','a\\b\r\nc');",
                           "#*it#*'5','','','',-1,,0.0,123.5,'02.01.2024 07:08:09','M\xFCller');",
                       }));
    EXPECT_TRUE(q.at_end());  // left at the end of the result
}

TEST_F(SqlDumpTest, DefaultDelimitersAndChangedOnes) {
    open("select ID, Ja, Geld, Zeit, T, D from typen where ID = 1");
    SqlDump d;
    EXPECT_EQ(d.string_delim, "'");
    EXPECT_EQ(d.date_delim, "'");
    EXPECT_EQ(d.numeric_delim, "");
    EXPECT_EQ(d.currency_delim, "");
    EXPECT_EQ(d.guid_delim, "'");
    EXPECT_EQ(d.bool_delim, "");
    d.query = &q;
    d.table_name = "typen";
    d.dump("t");
    EXPECT_EQ(d.lines(), (Lines{"#*it#*1,-1,12,5,'15.03.2023 12:00:00','O\\'Neil',12346.0);"}));

    // each delimiter goes to its own type only; a delimiter of two characters escapes nothing
    d.numeric_delim = "<";
    d.bool_delim = "!";
    d.currency_delim = "$";
    d.date_delim = "#";
    d.string_delim = "\"\"";
    d.dump("t");
    EXPECT_EQ(d.lines(), (Lines{"#*it#*<1<,!-1!,$12,5$,#15.03.2023 12:00:00#,\"\"O'Neil\"\",12346.0);"}));
    // with a one-character delimiter only that character is escaped
    d.string_delim = "O";
    d.dump("t");
    EXPECT_EQ(d.lines().at(0), "#*it#*<1<,!-1!,$12,5$,#15.03.2023 12:00:00#,O\\O'NeilO,12346.0);");
}

TEST_F(SqlDumpTest, NothingWrittenWithoutTableNameRowsOrOpenResult) {
    open("select * from typen");
    SqlDump d = upload_writer();
    d.dump("t");
    ASSERT_EQ(d.lines().size(), 5u);
    d.table_name.clear();
    d.dump("t");
    EXPECT_TRUE(d.lines().empty());  // cleared, although the result has rows

    d.table_name = "typen";
    open("select * from typen where ID = -1");
    d.dump("t");
    EXPECT_TRUE(d.lines().empty());

    q.close();
    d.dump("t");
    EXPECT_TRUE(d.lines().empty());
    d.query = nullptr;
    d.dump("t");
    EXPECT_TRUE(d.lines().empty());
}

TEST_F(SqlDumpTest, RowsOfSkippedColumnsOnlyAndAComputedColumn) {
    open("select M, O from typen where ID = 1");
    SqlDump d = upload_writer();
    d.dump("va");
    EXPECT_EQ(d.lines(), (Lines{"#*iva#);"}));  // the last character removed is the "*" of "#*"

    // the constant column of the starter statements is a whole number
    open("select T, 0 from typen where ID = 3");
    d.dump("s");
    EXPECT_EQ(d.lines(), (Lines{"#*is#*'\\'','0');"}));
}

// The streamed form writes what a file saved from lines() holds: every line followed by CR LF,
// a line break inside a text staying inside its line.
TEST_F(SqlDumpTest, StreamedLinesEqualTheListSaved) {
    open("select * from typen order by ID");
    SqlDump d = upload_writer();
    d.dump("t");
    std::string saved;
    for (const auto& line : d.lines()) saved += line + "\r\n";

    std::ostringstream out;
    EXPECT_EQ(d.dump_to(out, "t"), 5u);
    EXPECT_EQ(out.str(), saved);
    EXPECT_TRUE(d.lines().empty());

    const auto file = scratch_dir() / "dtypen.sql";
    write_bytes(file, "old content that must go");
    EXPECT_EQ(d.dump_to_file(file, "t"), 5u);
    EXPECT_EQ(read_bytes(file), saved);

    open("select * from typen where ID = -1");
    EXPECT_EQ(d.dump_to_file(file, "t"), 0u);
    EXPECT_EQ(read_bytes(file), "");  // a table without rows gives an empty file

    EXPECT_THROW(d.dump_to_file(scratch_dir() / "no" / "such" / "dir.sql", "t"), std::runtime_error);
}

// Types the competition files do not use here, given by the declared type the snapshot keeps.
TEST_F(SqlDumpTest, GuidDecimalFixedTextAndUnknownTypes) {
    EXPECT_EQ(upload::dump_type("GUID", db::FieldType::Binary), DumpType::Guid);
    EXPECT_EQ(upload::dump_type("NUMERIC", db::FieldType::Binary), DumpType::Bcd);
    EXPECT_EQ(upload::dump_type("BINARY", db::FieldType::Binary), DumpType::Skipped);
    EXPECT_EQ(upload::dump_type("TYPE17", db::FieldType::Binary), DumpType::Skipped);
    EXPECT_EQ(upload::dump_type("", db::FieldType::Null), DumpType::Text);  // computed, NULL in every row

    SqlDump d;
    d.numeric_delim = "'";
    EXPECT_EQ(d.value_text(DumpType::Guid, "{6B29FC40-CA47-1067-B31D-00DD010662DA}", 0),
              "'{6B29FC40-CA47-1067-B31D-00DD010662DA}'");
    EXPECT_EQ(d.value_text(DumpType::Guid, "", 0), "''");
    EXPECT_EQ(d.value_text(DumpType::Bcd, "12.5000", 0), "'12,5'");  // regional separator, kept
    EXPECT_EQ(d.value_text(DumpType::Bcd, "-3.0000", 0), "'-3'");
    EXPECT_EQ(d.value_text(DumpType::Bcd, "", 0), "''");
    EXPECT_EQ(d.value_text(DumpType::FixedText, "O'Neil", 0), "'O'Neil'");  // not escaped
    EXPECT_EQ(d.value_text(DumpType::Text, "O'Neil", 0), "'O\\'Neil'");
    EXPECT_EQ(d.value_text(DumpType::Boolean, "Wahr", 0), "0");
    EXPECT_EQ(d.value_text(DumpType::Boolean, "", 0), "0");  // NULL yes/no
    EXPECT_EQ(d.value_text(DumpType::Skipped, "x", 1), "");
}

// Reals: one decimal, half away from zero, five significant digits, exponent form above.
TEST(SqlDumpReal, OneDecimalWithPoint) {
    using upload::real_text;
    EXPECT_EQ(real_text(9.75), "9.8");
    EXPECT_EQ(real_text(0.25), "0.3");
    EXPECT_EQ(real_text(-0.25), "-0.3");
    EXPECT_EQ(real_text(0.04), "0.0");
    EXPECT_EQ(real_text(-0.04), "0.0");
    EXPECT_EQ(real_text(0), "0.0");
    EXPECT_EQ(real_text(12345.67), "12346.0");
    EXPECT_EQ(real_text(123.45678), "123.5");
    EXPECT_EQ(real_text(1234.56), "1234.6");
    EXPECT_EQ(real_text(99999.5), "1E5");  // rounds up to six digits before the point
    EXPECT_EQ(real_text(123456.7), "1.2346E5");
    EXPECT_EQ(real_text(-2500000), "-2.5E6");
}
