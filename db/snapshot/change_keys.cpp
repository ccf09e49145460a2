#include "db/snapshot/change_keys.h"

#include <sqlite3.h>

#include "common/ascii.h"
#include "common/error.h"

namespace ringolan::db {

std::vector<KeyColumn> key_columns_of(std::string_view table) {
    std::vector<KeyColumn> columns;
    for (const KeyColumn& k : kKeyColumns)
        if (text::equal_ignoring_case(k.table, table)) columns.push_back(k);
    return columns;
}

void KeyCollector::add_rows(int64_t from, int64_t to) {
    if (unknown_) return;
    sqlite3_bind_int64(select_, 1, from);
    sqlite3_bind_int64(select_, 2, to);
    int rc;
    while ((rc = sqlite3_step(select_)) == SQLITE_ROW) {
        const int type = sqlite3_column_type(select_, 0);
        if (type == SQLITE_NULL) continue;
        if (type != SQLITE_INTEGER) unknown_ = true;
        else values_.insert(sqlite3_column_int64(select_, 0));
    }
    sqlite3_reset(select_);
    if (rc != SQLITE_DONE) throw Error("cannot read the changed keys");
    if (values_.size() > kMaxChangedKeys) unknown_ = true;
    if (unknown_) values_.clear();
}

}  // namespace ringolan::db
