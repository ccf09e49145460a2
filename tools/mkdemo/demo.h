// Demo competition: a reproducible club competition with every table the results server reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "db/jet/value.h"

namespace ringolan::demo {

namespace jet = ringolan::jet;

struct DemoOptions {
    int shooters = 300;
    uint64_t seed = 1;
    bool itdatum = true;  // write the "itdatum" row of Veranstaltung
    // A later state of the same competition: the same people, numbers, lists and teams, other
    // shots and ranks, and the marker of round_marker() in the texts the pages show. 0 is the
    // plain demo without a marker.
    uint32_t round = 0;
};

// " ~R<round>~" (appended to names and titles), or "" for round 0.
std::string round_marker(uint32_t round);

struct DemoTable {
    std::string name;
    std::vector<jet::Column> columns;
    std::vector<jet::Row> rows;
};

struct DemoSummary {
    size_t tables = 0;
    size_t rows = 0;
    uintmax_t bytes = 0;  // size of the written file
};

// All twelve tables with their rows. The same options always give the same tables.
// Throws std::invalid_argument when shooters is below 1.
std::vector<DemoTable> make_demo(const DemoOptions& options);

// Writes the tables as a Jet 4 database (atomically). Throws on write errors.
void write_demo(const std::vector<DemoTable>& tables, const std::filesystem::path& target);

// Generates and writes in one pass without holding every row at once; the file is
// identical to write_demo(make_demo(options), target).
DemoSummary write_demo(const DemoOptions& options, const std::filesystem::path& target);

}  // namespace ringolan::demo
