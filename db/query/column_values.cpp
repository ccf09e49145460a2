#include "db/query/column_values.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "common/cp1252.h"
#include "common/regional.h"
#include "db/sql/jet_sql.h"

namespace ringolan::db::values {
namespace {

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

// A number written as text ("12", "-3,5", "1.5E3"); failure as false.
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

QueryError failure(const std::string& command, const std::string& what) {
    return QueryError("Datenbankfehler: " + what + " in der Abfrage: " + command);
}

std::string engine_message(sqlite3* db) { return text::utf8_to_cp1252(sqlite3_errmsg(db)); }

Statement prepare(sqlite3* db, const std::string& command, const std::vector<Param>& params) {
    const auto sql = translated(command);
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql->c_str(), static_cast<int>(sql->size()), &raw, nullptr) != SQLITE_OK)
        throw failure(command, engine_message(db));
    Statement stmt(raw);
    if (!stmt) throw failure(command, "leere Anweisung");

    const int expected = sqlite3_bind_parameter_count(raw);
    if (expected != static_cast<int>(params.size()))
        throw failure(command, "die Anweisung erwartet " + std::to_string(expected) + " Werte, erhalten " +
                                   std::to_string(params.size()));
    for (int i = 0; i < expected; ++i) {
        const auto& v = params[i].value;
        int rc;
        if (auto p = std::get_if<int64_t>(&v)) rc = sqlite3_bind_int64(raw, i + 1, *p);
        else if (auto d = std::get_if<double>(&v)) rc = sqlite3_bind_double(raw, i + 1, *d);
        else {
            const std::string utf8 = text::cp1252_to_utf8(std::get<std::string>(v));
            rc = sqlite3_bind_text(raw, i + 1, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK) throw failure(command, engine_message(db));
    }
    return stmt;
}

std::vector<Column> columns(sqlite3_stmt* stmt) {
    std::vector<Column> out;
    const int n = sqlite3_column_count(stmt);
    for (int c = 0; c < n; ++c) {
        const char* name = sqlite3_column_name(stmt, c);
        const char* decl = sqlite3_column_decltype(stmt, c);
        out.push_back({text::utf8_to_cp1252(name ? name : ""), declared_type(decl), type_word(decl), decl == nullptr});
    }
    return out;
}

Value read(sqlite3_stmt* stmt, int c, bool& blob) {
    switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_INTEGER: return int64_t(sqlite3_column_int64(stmt, c));
    case SQLITE_FLOAT: return sqlite3_column_double(stmt, c);
    case SQLITE_TEXT: {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        return text::utf8_to_cp1252(std::string_view(t, sqlite3_column_bytes(stmt, c)));
    }
    case SQLITE_BLOB: {
        const auto* b = static_cast<const char*>(sqlite3_column_blob(stmt, c));
        blob = true;
        return std::string(b ? b : "", sqlite3_column_bytes(stmt, c));
    }
    default: return std::monostate{};
    }
}

FieldType value_type(const Value& v, bool blob) {
    if (std::holds_alternative<int64_t>(v)) return FieldType::Integer;
    if (std::holds_alternative<double>(v)) return FieldType::Real;
    if (std::holds_alternative<std::string>(v)) return blob ? FieldType::Binary : FieldType::Text;
    return FieldType::Null;
}

std::string text(const Value& v, FieldType type) {
    if (std::holds_alternative<std::monostate>(v)) return {};
    if (auto s = std::get_if<std::string>(&v)) return *s;
    const bool is_int = std::holds_alternative<int64_t>(v);
    const double d = is_int ? double(std::get<int64_t>(v)) : std::get<double>(v);
    if (type == FieldType::Boolean) return d != 0 ? "Wahr" : "Falsch";
    if (type == FieldType::DateTime) return regional::datetime_text(d);
    if (is_int) return std::to_string(std::get<int64_t>(v));
    return regional::general_real(d);
}

double real(const Value& v, const std::string& name) {
    if (auto i = std::get_if<int64_t>(&v)) return double(*i);
    if (auto d = std::get_if<double>(&v)) return *d;
    if (auto s = std::get_if<std::string>(&v)) {
        double d;
        if (!parse_real(*s, d)) throw QueryError("Feld '" + name + "': '" + *s + "' ist keine Zahl");
        return d;
    }
    return 0;
}

int64_t whole(const Value& v, const std::string& name) {
    if (auto i = std::get_if<int64_t>(&v)) return *i;
    if (std::holds_alternative<std::monostate>(v)) return 0;
    const double d = std::nearbyint(real(v, name));  // half to even in the default rounding mode
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
        throw QueryError("Feld '" + name + text::utf8_to_cp1252("': Wert außerhalb des Bereichs ganzer Zahlen"));
    return static_cast<int64_t>(d);
}

}  // namespace ringolan::db::values
