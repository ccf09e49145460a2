// Which rows of a table a new state changed, told by the values of key columns in the rows it
// deleted and inserted: a cached answer that read only rows with other keys of that table
// carries over to the new state although the table changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3_stmt;

namespace ringolan::db {

// The keys of the rows of table that differ from the base state, by column.
struct TableKeys {
    std::string table;   // catalog name
    std::string column;  // as the reader knows it (kKeyColumns)
    std::vector<int64_t> values;  // sorted, unique; rows whose key is NULL are in no keyed read
};

struct KeyColumn {
    std::string_view table;
    std::string_view column;
};
// The columns whose changed keys the reader reports: ranks by list and by shooter, teams by
// competition, results by shooter, the targets of a result, targets by number.
inline constexpr KeyColumn kKeyColumns[] = {
    {"raenge", "ErglistID"}, {"raenge", "Startnr"},   {"mannschaft", "Wettb_id"},
    {"ergebnis", "Startnr"}, {"zuordnung", "Erg_id"}, {"scheiben", "Sch_id"},
};
// A state with more different keys in a column than this tells none: the table changed whole.
inline constexpr std::size_t kMaxChangedKeys = 4096;

// The key columns of the table (any letter case).
std::vector<KeyColumn> key_columns_of(std::string_view table);

// Collects the keys of rows of one table by rowid ranges, with a statement prepared as
// "SELECT DISTINCT key FROM table WHERE rowid >= ?1 AND rowid < ?2".
class KeyCollector {
public:
    explicit KeyCollector(sqlite3_stmt* select) : select_(select) {}
    // Throws Error when the statement fails.
    void add_rows(int64_t from, int64_t to);
    // False once a key was not a whole number or there were more than kMaxChangedKeys.
    bool known() const { return !unknown_; }
    std::vector<int64_t> values() const { return {values_.begin(), values_.end()}; }

private:
    sqlite3_stmt* select_;
    std::set<int64_t> values_;
    bool unknown_ = false;
};

}  // namespace ringolan::db
