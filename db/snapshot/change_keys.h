// Which rows of a table a new state changed, told by the values of one key column in the rows
// it deleted and inserted: a cached answer that read only rows with other keys of that table
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
// The tables whose changed keys the reader reports: the ranks by list, the teams by competition.
inline constexpr KeyColumn kKeyColumns[] = {{"raenge", "ErglistID"}, {"mannschaft", "Wettb_id"}};
// A state with more different keys in a table than this tells none: the table changed whole.
inline constexpr std::size_t kMaxChangedKeys = 64;

// The key column of the table (any letter case), or nullptr.
const KeyColumn* key_column_of(std::string_view table);

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
