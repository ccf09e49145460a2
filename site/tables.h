// The tables an upload sends, in upload order: the code in each statement line, the name the
// count request asks for, and column names for the values by position. Tables dumped with
// "select *" have no fixed columns; values beyond the named ones get "c" + position.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ringolan::site {

struct TableDef {
    std::string_view code;
    std::string_view name;
    std::vector<std::string_view> columns;
};

const std::vector<TableDef>& upload_tables();

// Letter case is ignored for names, not for codes.
const TableDef* table_by_code(std::string_view code);
const TableDef* table_by_name(std::string_view name);

// Name of the column at `index` (from 0).
std::string column_name(const TableDef& table, std::size_t index);

}  // namespace ringolan::site
