#include "db/query/query.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "common/cp1252.h"
#include "common/regional.h"
#include "db/sql/jet_sql.h"

namespace ringolan::db {
namespace {

using Value = std::variant<std::monostate, int64_t, double, std::string>;

// Translations per distinct statement text, shared by all threads. The program's statements
// are fixed texts with "?" for values, so the cache stays small; the bound keeps it so even if
// values were spliced in.
std::shared_ptr<const std::string> translated(const std::string& jet) {
    static std::mutex mutex;
    static std::unordered_map<std::string, std::shared_ptr<const std::string>> cache;
    {
        std::lock_guard lock(mutex);
        if (auto it = cache.find(jet); it != cache.end()) return it->second;
    }
    auto sql = std::make_shared<const std::string>(translate_jet_sql(jet));  // throws QueryError
    std::lock_guard lock(mutex);
    if (cache.size() >= 4096) cache.clear();
    cache.emplace(jet, sql);
    return sql;
}

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

// First word of a declared type, upper case; empty for a computed column.
std::string type_word(const char* decl) {
    std::string t;
    for (const char* p = decl; p && *p && *p != '(' && *p != ' '; ++p) t += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return t;
}

FieldType declared_type(const char* decl) {
    if (!decl) return FieldType::Null;  // computed: decided by the values
    const std::string t = type_word(decl);
    if (t == "BOOLEAN" || t == "BIT" || t == "YESNO") return FieldType::Boolean;
    if (t == "BYTE" || t == "SMALLINT" || t == "LONG" || t == "INTEGER" || t == "INT" || t == "BIGINT")
        return FieldType::Integer;
    if (t == "SINGLE" || t == "DOUBLE" || t == "REAL" || t == "FLOAT") return FieldType::Real;
    if (t == "CURRENCY") return FieldType::Currency;
    if (t == "DATETIME") return FieldType::DateTime;
    if (t == "TEXT" || t == "VARCHAR" || t == "CHAR") return FieldType::Text;
    if (t == "MEMO") return FieldType::Memo;
    return FieldType::Binary;
}

FieldType value_type(const Value& v, bool blob) {
    if (std::holds_alternative<int64_t>(v)) return FieldType::Integer;
    if (std::holds_alternative<double>(v)) return FieldType::Real;
    if (std::holds_alternative<std::string>(v)) return blob ? FieldType::Binary : FieldType::Text;
    return FieldType::Null;
}

std::string engine_message(sqlite3* db) { return text::utf8_to_cp1252(sqlite3_errmsg(db)); }

// A number written as text ("12", "-3,5", "1.5E3"); nullopt-like failure as false.
bool parse_real(const std::string& s, double& out) {
    std::string t = s;
    for (char& c : t)
        if (c == ',') c = '.';
    const char* b = t.c_str();
    char* e = nullptr;
    errno = 0;
    out = std::strtod(b, &e);
    while (*e == ' ') ++e;
    return e != b && *e == 0 && errno == 0 && !t.empty() && t[0] != ' ';
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
    const auto sql = translated(command_);
    auto fail = [&](const std::string& what) -> QueryError {
        return QueryError("Datenbankfehler: " + what + " in der Abfrage: " + command_);
    };

    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql->c_str(), static_cast<int>(sql->size()), &raw, nullptr) != SQLITE_OK)
        throw fail(engine_message(db));
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
    if (!stmt) throw fail("leere Anweisung");

    const int expected = sqlite3_bind_parameter_count(raw);
    if (expected != static_cast<int>(params.size()))
        throw fail("die Anweisung erwartet " + std::to_string(expected) + " Werte, erhalten " + std::to_string(params.size()));
    for (int i = 0; i < expected; ++i) {
        const auto& v = params[i].value;
        int rc;
        if (auto p = std::get_if<int64_t>(&v)) rc = sqlite3_bind_int64(raw, i + 1, *p);
        else if (auto d = std::get_if<double>(&v)) rc = sqlite3_bind_double(raw, i + 1, *d);
        else {
            const std::string utf8 = text::cp1252_to_utf8(std::get<std::string>(v));
            rc = sqlite3_bind_text(raw, i + 1, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK) throw fail(engine_message(db));
    }

    auto r = std::make_unique<Result>();
    const int columns = sqlite3_column_count(raw);
    std::vector<bool> computed(columns), blob(columns);
    for (int c = 0; c < columns; ++c) {
        const char* name = sqlite3_column_name(raw, c);
        r->names.push_back(text::utf8_to_cp1252(name ? name : ""));
        r->types.push_back(declared_type(sqlite3_column_decltype(raw, c)));
        r->declared.push_back(type_word(sqlite3_column_decltype(raw, c)));
        computed[c] = sqlite3_column_decltype(raw, c) == nullptr;
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
        if (rc != SQLITE_ROW) throw fail(engine_message(db));
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(raw, c)) {
                case SQLITE_INTEGER: r->values.emplace_back(int64_t(sqlite3_column_int64(raw, c))); break;
                case SQLITE_FLOAT: r->values.emplace_back(sqlite3_column_double(raw, c)); break;
                case SQLITE_TEXT: {
                    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
                    r->values.emplace_back(text::utf8_to_cp1252(std::string_view(t, sqlite3_column_bytes(raw, c))));
                    break;
                }
                case SQLITE_BLOB: {
                    const auto* b = static_cast<const char*>(sqlite3_column_blob(raw, c));
                    r->values.emplace_back(std::string(b ? b : "", sqlite3_column_bytes(raw, c)));
                    blob[c] = true;
                    break;
                }
                default: r->values.emplace_back(std::monostate{}); break;
            }
            if (computed[c] && r->types[c] == FieldType::Null) r->types[c] = value_type(r->values.back(), blob[c]);
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
    const Value& v = current(q_->result_.get(), q_->row_, column_);
    const FieldType t = type();
    if (std::holds_alternative<std::monostate>(v)) return {};
    if (auto s = std::get_if<std::string>(&v)) return *s;
    const bool is_int = std::holds_alternative<int64_t>(v);
    const double d = is_int ? double(std::get<int64_t>(v)) : std::get<double>(v);
    if (t == FieldType::Boolean) return d != 0 ? "Wahr" : "Falsch";
    if (t == FieldType::DateTime) return regional::datetime_text(d);
    if (is_int) return std::to_string(std::get<int64_t>(v));
    return regional::general_real(d);
}

double Field::as_real() const {
    const Value& v = current(q_->result_.get(), q_->row_, column_);
    if (auto i = std::get_if<int64_t>(&v)) return double(*i);
    if (auto d = std::get_if<double>(&v)) return *d;
    if (auto s = std::get_if<std::string>(&v)) {
        double d;
        if (!parse_real(*s, d))
            throw QueryError("Feld '" + name() + "': '" + *s + "' ist keine Zahl");
        return d;
    }
    return 0;
}

int64_t Field::as_int() const {
    const Value& v = current(q_->result_.get(), q_->row_, column_);
    if (auto i = std::get_if<int64_t>(&v)) return *i;
    if (std::holds_alternative<std::monostate>(v)) return 0;
    const double d = std::nearbyint(as_real());  // half to even in the default rounding mode
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
        throw QueryError("Feld '" + name() + text::utf8_to_cp1252("': Wert außerhalb des Bereichs ganzer Zahlen"));
    return static_cast<int64_t>(d);
}

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
