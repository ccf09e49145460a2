// The query interface the pages use: one result set with a position, fields read by name.
// Statements are written in the Jet dialect with "?" for request values; they are translated
// to SQLite once (cached) and the values are bound, never spliced.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "db/snapshot/snapshot.h"
#include "db/sql/query_error.h"

namespace ringolan::db {

// Data types as the dump and the text readings tell them apart. The type comes from the
// column's declared type (BOOLEAN; BYTE, SMALLINT, LONG; SINGLE, DOUBLE; CURRENCY; DATETIME;
// TEXT; MEMO) or, for a computed column, from its first non-NULL value. Binary: BLOB values
// and declared types not listed (the dump skips them).
enum class FieldType { Text, Memo, Integer, Boolean, Real, Currency, DateTime, Null, Binary };

// A value bound to a "?" of a statement. Text is Windows-1252.
struct Param {
    std::variant<int64_t, double, std::string> value;
    Param(int64_t v) : value(v) {}
    Param(int v) : value(int64_t(v)) {}
    Param(double v) : value(v) {}
    Param(std::string v) : value(std::move(v)) {}
    Param(const char* v) : value(std::string(v)) {}
};

class Query;

// One field of the current row of its query (whichever row is current when it is read). After
// close() it reads as NULL; it must not outlive the Query object.
class Field {
public:
    // Whole numbers in plain digits, reals in general form (up to 15 significant digits,
    // decimal comma), yes/no as "Wahr"/"Falsch", dates as date-time text, NULL as "".
    // Windows-1252. Reading a result without rows gives NULL; after next() has passed the
    // last row the last row is read (as the record stays on it).
    std::string as_text() const;
    double as_real() const;     // NULL as 0; text is parsed (decimal comma or point) or throws
    int64_t as_int() const;     // NULL as 0; reals rounded half to even; text parsed or throws
    bool is_null() const;
    FieldType type() const;     // the column's type (Null only for a constant NULL column)
    // The first word of the column's declared type in upper case, as the snapshot keeps the
    // Jet type ("BYTE", "SMALLINT", "LONG", "SINGLE", "DOUBLE", "TEXT", "MEMO", "GUID",
    // "NUMERIC", ...); empty for a computed column.
    const std::string& declared_type() const;
    const std::string& name() const;

private:
    friend class Query;
    Field(const Query* q, size_t column) : q_(q), column_(column) {}
    const Query* q_;
    size_t column_;
};

class Query {
public:
    Query();
    ~Query();
    Query(Query&&) noexcept;
    Query& operator=(Query&&) noexcept;

    void close();                                  // allowed when closed
    void set_command(std::string_view jet_sql);    // Windows-1252 Jet dialect, "?" for values
    const std::string& command() const;
    // Runs the statement on the snapshot with the values for its "?" in order and positions
    // on the first row. The whole result set is read here (a static cursor).
    // Throws QueryError with the engine's message and the statement. Closes first.
    void open(const Snapshot& snapshot, std::vector<Param> params = {});
    // The same on a connection that has register_jet_functions applied.
    void open(sqlite3* db, std::vector<Param> params = {});
    bool is_open() const;
    bool at_end() const;    // also true when closed
    void next();            // no effect at the end
    void first();
    size_t row_count() const;

    // By name without regard to letter case; a column that occurs twice is found under its
    // qualified name ("scheiben.sch_id": the real table name) and by its bare name as its first
    // occurrence. Throws QueryError naming the field when missing or when closed.
    Field field(std::string_view name) const;
    size_t field_count() const;
    Field field(size_t index) const;

private:
    friend class Field;
    struct Result;
    std::string command_;
    std::unique_ptr<Result> result_;
    size_t row_ = 0;
};

}  // namespace ringolan::db
