#include "db/query/row_cursor.h"

#include "db/query/column_values.h"

namespace ringolan::db {

struct RowCursor::Column {
    values::Column info;
};

struct RowCursor::Row {
    std::vector<values::Value> values;  // of the current row; NULLs at the end
};

RowCursor::RowCursor(sqlite3* db, std::string_view jet_sql, std::vector<Param> params)
    : db_(db), command_(jet_sql), stmt_(values::prepare(db, command_, params)), row_(std::make_unique<Row>()) {
    for (auto& c : values::columns(stmt_.get())) columns_.push_back({std::move(c)});
    row_->values.resize(columns_.size());
    step();
    bool undecided = false;
    for (size_t c = 0; c < columns_.size(); ++c) {
        auto& col = columns_[c].info;
        if (!col.computed) continue;
        bool blob = false;
        if (!at_end_) values::read(stmt_.get(), static_cast<int>(c), blob);
        col.type = values::value_type(row_->values[c], blob);
        undecided = undecided || (col.type == FieldType::Null && !at_end_);
    }
    if (undecided) resolve_computed_types(params);
}

RowCursor::~RowCursor() = default;

void RowCursor::step() {
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_DONE) {
        at_end_ = true;
        for (auto& v : row_->values) v = std::monostate{};
        stmt_.reset();  // the connection is free for others once the result is through
        return;
    }
    if (rc != SQLITE_ROW) throw values::failure(command_, values::engine_message(db_));
    bool blob = false;
    for (size_t c = 0; c < columns_.size(); ++c) row_->values[c] = values::read(stmt_.get(), static_cast<int>(c), blob);
}

// Computed columns that are NULL in the first row: a second run of the statement, ahead of this
// one, until each has a non-NULL value or the result ends (then they stay Null).
void RowCursor::resolve_computed_types(const std::vector<Param>& params) {
    const values::Statement ahead = values::prepare(db_, command_, params);
    std::vector<size_t> open;
    for (size_t c = 0; c < columns_.size(); ++c)
        if (columns_[c].info.computed && columns_[c].info.type == FieldType::Null) open.push_back(c);
    while (!open.empty()) {
        const int rc = sqlite3_step(ahead.get());
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) throw values::failure(command_, values::engine_message(db_));
        std::erase_if(open, [&](size_t c) {
            bool blob = false;
            const auto v = values::read(ahead.get(), static_cast<int>(c), blob);
            columns_[c].info.type = values::value_type(v, blob);
            return columns_[c].info.type != FieldType::Null;
        });
    }
}

size_t RowCursor::field_count() const { return columns_.size(); }

void RowCursor::next() {
    if (!at_end_) step();
}

RowField RowCursor::field(size_t index) const {
    if (index >= columns_.size())
        throw QueryError("Feld Nr. " + std::to_string(index) + " nicht vorhanden in der Abfrage: " + command_);
    return RowField(this, index);
}

std::string RowField::as_text() const { return values::text(c_->row_->values[column_], type()); }
double RowField::as_real() const { return values::real(c_->row_->values[column_], name()); }
int64_t RowField::as_int() const { return values::whole(c_->row_->values[column_], name()); }
bool RowField::is_null() const { return std::holds_alternative<std::monostate>(c_->row_->values[column_]); }
FieldType RowField::type() const { return c_->columns_[column_].info.type; }
const std::string& RowField::declared_type() const { return c_->columns_[column_].info.declared; }
const std::string& RowField::name() const { return c_->columns_[column_].info.name; }

}  // namespace ringolan::db
