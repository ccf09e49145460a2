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

namespace ringolan::db {

// An error of the database layer (bad statement, missing table or field). The message names
// what failed and is meant for the 500 answer's body.
class QueryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Data types as the dump and the text readings tell them apart.
enum class FieldType { Text, Memo, Integer, Boolean, Real, Currency, DateTime, Null };

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

// One field of the current row.
class Field {
public:
    // Whole numbers in plain digits, reals in general form (up to 15 significant digits,
    // decimal comma), yes/no as "Wahr"/"Falsch", dates as date-time text, NULL as "".
    // Windows-1252.
    std::string as_text() const;
    double as_real() const;     // NULL as 0
    int64_t as_int() const;     // NULL as 0; reals rounded half to even
    bool is_null() const;
    FieldType type() const;     // the column's type (Null only for a constant NULL column)
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
    void open(const Snapshot& snapshot, std::vector<Param> params = {});
    bool is_open() const;
    bool at_end() const;
    void next();
    void first();
    size_t row_count() const;

    // By name without regard to letter case; a column that occurs twice is found under its
    // qualified name ("scheiben.sch_id"). Throws QueryError naming the field when missing.
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
