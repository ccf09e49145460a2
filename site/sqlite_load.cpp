#include "site/sqlite_load.h"

#include "site/stored_value.h"

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
                const std::string_view text = stored_text(v, room);
                rc = sqlite3_bind_text(st, index, text.data(), int(text.size()), SQLITE_STATIC);
            }
            break;
        case Value::Kind::number: {
            const StoredValue number = stored_number(v.text);
            rc = number.kind == StoredValue::Kind::integer ? sqlite3_bind_int64(st, index, number.integer)
                                                           : sqlite3_bind_double(st, index, number.real);
            break;
        }
    }
    if (rc != SQLITE_OK) throw StoreError("database: a value could not be bound");
}

}  // namespace ringolan::site::sqlite_load
