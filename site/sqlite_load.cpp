#include "site/sqlite_load.h"

#include <charconv>

#include "common/cp1252.h"

namespace ringolan::site::sqlite_load {

sqlite::StmtHandle prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
    sqlite::StmtHandle st(raw);
    if (rc != SQLITE_OK) throw StoreError(std::string("database: ") + sqlite3_errmsg(db));
    return st;
}

void step_done(sqlite3* db, sqlite3_stmt* st) {
    if (sqlite3_step(st) != SQLITE_DONE) throw StoreError(std::string("database: ") + sqlite3_errmsg(db));
}

namespace {

bool is_ascii(std::string_view t) {
    for (const char c : t)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

void bind_value(sqlite3_stmt* st, int index, const ValueView& v, std::string& room) {
    int rc = SQLITE_OK;
    switch (v.kind) {
        case Value::Kind::null:
            rc = sqlite3_bind_null(st, index);
            break;
        case Value::Kind::text:
            // The dump writes a NULL and an empty text alike; both are kept as NULL.
            if (v.text.empty()) {
                rc = sqlite3_bind_null(st, index);
            } else {
                std::string_view text = v.text;
                if (v.escaped) text = room = v.decoded();
                if (!is_ascii(text)) text = room = text::cp1252_to_utf8(text);
                rc = sqlite3_bind_text(st, index, text.data(), int(text.size()), SQLITE_STATIC);
            }
            break;
        case Value::Kind::number: {
            const char* b = v.text.data();
            const char* e = b + v.text.size();
            if (*b == '+') ++b;
            std::int64_t whole = 0;
            auto [p, ec] = std::from_chars(b, e, whole);
            if (ec == std::errc() && p == e) {
                rc = sqlite3_bind_int64(st, index, whole);
            } else {
                double real = 0;
                std::from_chars(b, e, real);
                rc = sqlite3_bind_double(st, index, real);
            }
            break;
        }
    }
    if (rc != SQLITE_OK) throw StoreError("database: a value could not be bound");
}

}  // namespace ringolan::site::sqlite_load
