// Helpers of the API tests: snapshots of written files, parsed answers, and the tables of a
// file as the npm reader mdb-reader reads them (independently of our reader).
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/snapshot/snapshot.h"
#include "tests/pages/page_fixture.h"

namespace ringolan::test_api {

using Json = nlohmann::ordered_json;

using test_pages::test_dir;  // removed when the test program ends
std::shared_ptr<const db::Snapshot> snapshot_of(const std::filesystem::path& mdb, uint64_t generation);

struct Reply {
    int status;
    Json body;  // null when the answer was no JSON (the test has failed then)
};
Reply ask(const db::Snapshot& snapshot, std::string_view resource, std::string_view query = {});

// One row: canonical cell texts by lower-case column name ("NULL", digits, "\"text\"").
class ReaderRow {
public:
    std::map<std::string, std::string> cells;
    bool is_null(const std::string& column) const;
    int64_t integer(const std::string& column) const;  // NULL as 0
    std::optional<double> number(const std::string& column) const;
    Json text(const std::string& column) const;  // UTF-8, null for NULL
};

// Every table of the file read by tests/readers/dump.mjs; names in lower case.
std::map<std::string, std::vector<ReaderRow>> read_with_mdbreader(const std::filesystem::path& mdb);

// A number or null as the API writes it.
Json number(const std::optional<double>& v);

}  // namespace ringolan::test_api
