// Files and expectations shared by the in-place write tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "db/jet/value.h"
#include "tests/support/read_back.h"
#include "tools/mkdemo/demo.h"

namespace itdatum_test {

namespace fs = std::filesystem;
namespace jet = ringolan::jet;
using ringolan::readback::ExpectedTable;

std::vector<uint8_t> file_bytes(const fs::path& p);
void put_bytes(const fs::path& p, const std::vector<uint8_t>& b);

// A fresh folder per test (under the system's temporary folder).
fs::path scratch(const std::string& name);

// Small demo competition and its tables as the readers must show them.
struct Demo {
    fs::path file;
    std::vector<ExpectedTable> tables;
};
Demo make_demo_file(const fs::path& folder, bool with_itdatum, uint64_t seed = 7);

// Veranstaltung of the expected tables.
ExpectedTable& options_table(std::vector<ExpectedTable>& tables);
// Index of a column by name in an expected table.
size_t column_index(const ExpectedTable& t, const std::string& name);

// Page numbers where two images differ (the shorter padded with nothing: extra pages count).
std::vector<uint32_t> differing_pages(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// Declares a one-column index on column `column_number` of the table whose definition is on
// page `tdef`, as an Access-made file would carry it (index pages themselves are not built:
// readers that scan tables do not use them). The definition must stay on its page.
void declare_index(const fs::path& file, uint32_t tdef, uint16_t column_number);

// Definition page of the user table holding both columns (found by scanning every page).
uint32_t table_def_page(const fs::path& file, const std::u16string& column_a, const std::u16string& column_b);

// Row count the table definition on page tdef records.
uint32_t stored_row_count(const fs::path& file, uint32_t tdef);

}  // namespace itdatum_test
