// Helpers of the live simulator's tests: the invariant over every shooter's API answer, and
// tables read back by name.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/read_back.h"

namespace live_test {

namespace fs = std::filesystem;

fs::path scratch();

// A fresh demo of 300 shooters (seed 1), written once per test process and copied to `to`.
void copy_demo(const fs::path& to);
const fs::path& demo_file();

// "startnr: reason" for each shooter whose GET /api/v1/shooters/{startnr} answer, from a
// snapshot of the file, breaks the invariant; also the number of shooters asked.
std::vector<std::string> torn_shooters(const fs::path& mdb, size_t* asked = nullptr);

// A table read back, its cells by column name (canonical text, see read_back.h).
class Table {
public:
    explicit Table(const ringolan::readback::CanonTable& t);
    size_t size() const { return rows_.size(); }
    const std::string& cell(size_t row, const std::string& column) const;
    double number(size_t row, const std::string& column) const;  // NULL as 0
    const std::vector<std::string>& row(size_t i) const { return rows_[i]; }

private:
    std::map<std::string, size_t> column_;
    std::vector<std::vector<std::string>> rows_;
};

// Every table of the file read with libmdb, by lower-case name.
std::map<std::string, Table> read_tables(const fs::path& mdb);

}  // namespace live_test
