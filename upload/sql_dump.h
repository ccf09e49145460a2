// SqlDump: every row of an open query result as one compact insert line for the publishing
// site: "#*i" + table code + "#*" + the values, each followed by ",", the last "," replaced by
// ")" + ";". Values are formatted and delimited by the column's data type.
#pragma once

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "db/query/query.h"
#include "db/query/row_cursor.h"

namespace ringolan::upload {

// How a column's values are written. Skipped columns are left out of the line entirely.
enum class DumpType {
    Text,       // variable-length and wide text: string_delim escaped with "\"
    FixedText,  // fixed-length text: delimited, not escaped
    Integer,    // every whole-number kind: numeric_delim
    Bcd,        // exact decimal: numeric_delim, general form with the regional separator
    Real,       // one-decimal form with ".", no delimiter
    Currency,   // currency_delim, general number form with the regional separator
    Boolean,    // bool_delim, "-1" for "Falsch", "0" otherwise
    DateTime,   // date_delim, date-time text
    Guid,       // guid_delim
    Skipped,    // memo, binary, OLE and every other type
};

// The dump type of a column from the Jet type the snapshot declares for it:
//   TEXT -> Text; BYTE, SMALLINT, LONG -> Integer; SINGLE, DOUBLE -> Real; CURRENCY -> Currency;
//   BOOLEAN -> Boolean; DATETIME -> DateTime; GUID -> Guid; NUMERIC -> Bcd; MEMO, OLE, BINARY
//   and any other declared type -> Skipped.
// A computed column (no declared type, as the constant 0 of the starter statements) goes by the
// type its values gave it; a computed column that is NULL in every row is written as text.
DumpType dump_type(std::string_view declared_type, db::FieldType computed);
DumpType dump_type(const db::Field& field);
DumpType dump_type(const db::RowField& field);

// A real value in one-decimal form (rounded half away from zero, at most five significant
// digits) with the first "," turned into ".": 9.75 -> "9.8", 12345.67 -> "12346.0". A value
// that needs more than five digits before the point is written as mantissa with five
// significant digits, "E" and the exponent: 123456.7 -> "1.2346E5", -2500000 -> "-2.5E6".
std::string real_text(double value);

class SqlDump {
public:
    SqlDump() = default;

    db::Query* query = nullptr;  // the result to dump; not owned
    std::string table_name;      // must not be empty for dump to write anything; not written
    std::string string_delim = "'";
    std::string date_delim = "'";
    std::string numeric_delim;
    std::string currency_delim;
    std::string guid_delim = "'";
    std::string bool_delim;

    // The lines of the last dump (empty after dump_to).
    const std::vector<std::string>& lines() const { return lines_; }

    // Replaces lines with one line per row of query. Nothing is written when query is unset
    // or closed or table_name is empty. query is left at the end of its result; its errors
    // pass through.
    void dump(std::string_view table_code);

    // The same lines streamed: each line followed by "\r\n" (a file saved from lines), none
    // kept in memory; lines is cleared. Returns the number of lines. Throws std::runtime_error
    // when the stream fails.
    size_t dump_to(std::ostream& out, std::string_view table_code);
    // The same lines from a forward-only cursor, from its current row to its end, as dump_to
    // writes them for a Query over the same statement; query is not used. Returns the number
    // of lines; the cursor's errors pass through.
    size_t dump_to(db::RowCursor& rows, std::ostream& out, std::string_view table_code);
    // dump_to into a file that is created or overwritten (8-bit text, binary mode).
    size_t dump_to_file(const std::filesystem::path& file, std::string_view table_code);

    // The value text of one field as it appears in a line (without the following ",").
    std::string value_text(DumpType type, const db::Field& field) const;
    std::string value_text(DumpType type, const db::RowField& field) const;
    // The same from the field's text and, for reals, its value (NULL: empty text, 0).
    std::string value_text(DumpType type, const std::string& text, double real) const;

private:
    bool ready() const;
    // Appends the line of the current row of rows (a Query or a RowCursor), without a line break.
    template <class Rows>
    void append_line(std::string& line, const Rows& rows, std::string_view table_code,
                     const std::vector<DumpType>& types) const;
    // Reads a field the way its dump type needs it (field_text) and appends it to out.
    template <class F>
    std::string field_text(DumpType type, const F& field) const;
    template <class F>
    void append_field(std::string& out, DumpType type, const F& field) const;
    void append_value(std::string& out, DumpType type, std::string_view text, double real) const;
    std::vector<DumpType> column_types() const;

    std::vector<std::string> lines_;
};

}  // namespace ringolan::upload
