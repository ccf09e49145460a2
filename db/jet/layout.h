// Where each column of a table lives in a row and how the table definition describes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/page.h"
#include "db/jet/value.h"

namespace ringolan::jet {

struct ColumnLayout {
    Column column;
    uint16_t number = 0;        // column number: position in the table, null-mask bit
    bool variable = false;      // text, memo, long binary
    uint16_t var_index = 0;     // index among the variable columns
    uint16_t fixed_offset = 0;  // offset in the fixed area (after the column count)
    uint16_t length = 0;        // stored length as the definition gives it
};

struct TableLayout {
    std::vector<ColumnLayout> columns;
    uint16_t var_count = 0;
    uint16_t fixed_size = 0;
};

// Table and column names compare without regard to ASCII letter case.
std::string name_key(std::string name);

// Bytes a fixed column takes in the fixed area (0 for booleans, which live in the null mask).
uint16_t fixed_size(ColumnType t);
bool is_variable(ColumnType t);

// Validates the columns and assigns numbers and offsets. Throws WriteError.
TableLayout make_layout(const std::vector<Column>& columns);

// Usage-map row pointers of one memo column (they list its long-value pages).
struct LongValueMaps {
    uint16_t column_number;
    uint32_t owned_map;
    uint32_t free_map;
};

struct TableDefInfo {
    uint32_t row_count = 0;
    uint32_t owned_map = 0;  // row pointers of the table's usage maps
    uint32_t free_map = 0;
    bool system = false;
    std::vector<LongValueMaps> long_value_maps;
};

// The whole definition as one byte run, its first 8 bytes being the first page's header.
std::vector<uint8_t> build_table_def(const TableLayout& layout, const TableDefInfo& info);
// Number of pages the definition takes once split (continuation pages have their own 8-byte header).
uint32_t table_def_pages(size_t definition_length);
// Writes the definition across the given pages (as many as table_def_pages says).
void place_table_def(const std::vector<uint8_t>& def, const std::vector<Page*>& pages,
                     const std::vector<uint32_t>& page_numbers);

// Size in bytes of the definition for these columns (independent of row count and map pointers).
size_t table_def_length(const TableLayout& layout);

}  // namespace ringolan::jet
