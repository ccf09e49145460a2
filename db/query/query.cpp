#include "db/query/query.h"

#include <unordered_map>

#include "common/cp1252.h"
#include "db/query/column_values.h"

namespace ringolan::db {
namespace {

using values::Value;

// Letter case folded for field names (Windows-1252 bytes).
std::string fold(std::string_view s) {
    std::string f(s);
    for (char& ch : f) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) ch = static_cast<char>(c + 0x20);
        else if (c == 0x8A || c == 0x8C || c == 0x8E) ch = static_cast<char>(c + 0x10);
        else if (c == 0x9F) ch = static_cast<char>(0xFF);
    }
    return f;
}

}  // namespace

struct Query::Result {
    std::vector<std::string> names;  // Windows-1252, as the engine names the columns
    std::vector<FieldType> types;
    std::vector<std::string> declared;  // type_word of each column
    std::unordered_map<std::string, size_t> by_name;  // folded bare and qualified names
    std::vector<Value> values;                      // row-major
    size_t rows = 0;

    const Value& at(size_t row, size_t column) const { return values[row * names.size() + column]; }
};

Query::Query() = default;
Query::~Query() = default;
Query::Query(Query&&) noexcept = default;
Query& Query::operator=(Query&&) noexcept = default;

void Query::close() {
    result_.reset();
    row_ = 0;
}

void Query::set_command(std::string_view jet_sql) { command_.assign(jet_sql); }
const std::string& Query::command() const { return command_; }

void Query::open(sqlite3* db, std::vector<Param> params) {
    close();
    const values::Statement stmt = values::prepare(db, command_, params);
    sqlite3_stmt* raw = stmt.get();

    auto r = std::make_unique<Result>();
    const auto cols = values::columns(raw);
    const int columns = static_cast<int>(cols.size());
    std::vector<bool> computed(columns), blob(columns);
    for (int c = 0; c < columns; ++c) {
        r->names.push_back(cols[c].name);
        r->types.push_back(cols[c].type);
        r->declared.push_back(cols[c].declared);
        computed[c] = cols[c].computed;
        r->by_name.emplace(fold(r->names.back()), c);
    }
    // Qualified names after all bare ones: "table.column" for the real table, with the column
    // as the result names it and as the table names it.
    for (int c = 0; c < columns; ++c) {
        const char* table = sqlite3_column_table_name(raw, c);
        if (!table) continue;
        const std::string prefix = fold(text::utf8_to_cp1252(table)) + ".";
        r->by_name.emplace(prefix + fold(r->names[c]), c);
        if (const char* origin = sqlite3_column_origin_name(raw, c))
            r->by_name.emplace(prefix + fold(text::utf8_to_cp1252(origin)), c);
    }

    for (;;) {
        const int rc = sqlite3_step(raw);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) throw values::failure(command_, values::engine_message(db));
        for (int c = 0; c < columns; ++c) {
            bool is_blob = false;
            r->values.push_back(values::read(raw, c, is_blob));
            if (is_blob) blob[c] = true;
            if (computed[c] && r->types[c] == FieldType::Null) r->types[c] = values::value_type(r->values.back(), blob[c]);
        }
        ++r->rows;
    }
    result_ = std::move(r);
    row_ = 0;
}

bool Query::is_open() const { return result_ != nullptr; }
bool Query::at_end() const { return !result_ || row_ >= result_->rows; }
void Query::next() {
    if (!at_end()) ++row_;
}
void Query::first() { row_ = 0; }
size_t Query::row_count() const { return result_ ? result_->rows : 0; }
size_t Query::field_count() const { return result_ ? result_->names.size() : 0; }

Field Query::field(std::string_view name) const {
    if (!result_)
        throw QueryError("Feld '" + std::string(name) + text::utf8_to_cp1252("' gelesen, aber die Abfrage ist nicht geöffnet: ") + command_);
    const auto it = result_->by_name.find(fold(name));
    if (it == result_->by_name.end())
        throw QueryError("Feld '" + std::string(name) + "' nicht gefunden in der Abfrage: " + command_);
    return Field(this, it->second);
}

Field Query::field(size_t index) const {
    if (!result_ || index >= result_->names.size())
        throw QueryError("Feld Nr. " + std::to_string(index) + " nicht vorhanden in der Abfrage: " + command_);
    return Field(this, index);
}

namespace {

const Value kNull;

// The value of the current row: none without rows, the last row once past the end. A field
// kept across close() or a reopen with fewer columns reads NULL.
const Value& current(const auto* r, size_t row, size_t column) {
    if (!r || r->rows == 0 || column >= r->names.size()) return kNull;
    return r->at(std::min(row, r->rows - 1), column);
}

}  // namespace

std::string Field::as_text() const {
    return values::text(current(q_->result_.get(), q_->row_, column_), type());
}

double Field::as_real() const { return values::real(current(q_->result_.get(), q_->row_, column_), name()); }

int64_t Field::as_int() const { return values::whole(current(q_->result_.get(), q_->row_, column_), name()); }

bool Field::is_null() const {
    return std::holds_alternative<std::monostate>(current(q_->result_.get(), q_->row_, column_));
}

FieldType Field::type() const {
    const auto* r = q_->result_.get();
    return r && column_ < r->types.size() ? r->types[column_] : FieldType::Null;
}

const std::string& Field::declared_type() const {
    static const std::string none;
    const auto* r = q_->result_.get();
    return r && column_ < r->declared.size() ? r->declared[column_] : none;
}

const std::string& Field::name() const {
    static const std::string none;
    const auto* r = q_->result_.get();
    return r && column_ < r->names.size() ? r->names[column_] : none;
}

}  // namespace ringolan::db
