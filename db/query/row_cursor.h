// A forward-only cursor over a statement's result: steps the SQLite statement row by row, so
// only the current row is held. Fields read exactly as Query's Field reads them (the same texts
// and numbers), for streaming a whole result without keeping it.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/sqlite.h"
#include "db/query/query.h"

namespace ringolan::db {

class RowCursor;

// One field of the cursor's current row; valid while the cursor lives.
class RowField {
public:
    std::string as_text() const;
    double as_real() const;
    int64_t as_int() const;
    bool is_null() const;
    FieldType type() const;
    const std::string& declared_type() const;
    const std::string& name() const;

private:
    friend class RowCursor;
    RowField(const RowCursor* c, size_t column) : c_(c), column_(column) {}
    const RowCursor* c_;
    size_t column_;
};

class RowCursor {
public:
    // Runs the Jet statement on db (a connection with register_jet_functions applied, used by
    // no other thread while the cursor steps) and positions on the first row. A computed
    // column takes the type of its first non-NULL value in the whole result, as with Query;
    // when the first row does not decide it, the statement is run once more ahead to find it.
    // Throws QueryError as Query::open does.
    RowCursor(sqlite3* db, std::string_view jet_sql, std::vector<Param> params = {});
    ~RowCursor();
    RowCursor(const RowCursor&) = delete;
    RowCursor& operator=(const RowCursor&) = delete;

    bool at_end() const { return at_end_; }
    // The next row; no effect at the end. Throws QueryError when the engine fails.
    void next();

    size_t field_count() const;
    // Throws QueryError when index is out of range. Reads NULL at the end.
    RowField field(size_t index) const;
    const std::string& command() const { return command_; }

private:
    friend class RowField;
    struct Column;
    void step();
    void resolve_computed_types(const std::vector<Param>& params);

    sqlite3* db_;
    std::string command_;
    sqlite::StmtHandle stmt_;
    std::vector<Column> columns_;
    struct Row;
    std::unique_ptr<Row> row_;
    bool at_end_ = false;
};

}  // namespace ringolan::db
