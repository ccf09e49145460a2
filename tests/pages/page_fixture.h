// Small competition files written with our Jet writer and turned into snapshots for page tests.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/jet/value.h"
#include "db/snapshot/snapshot.h"

namespace ringolan::test_pages {

struct Club {
    std::string nr;     // UTF-8
    jet::Value name;    // UTF-8 text or Null
};

struct Shooter {
    int64_t startnr;
    std::string vereinsnr;  // UTF-8
};

// A file with the tables starter and verein (in that order); with_verein = false leaves verein out.
std::filesystem::path write_clubs_file(const std::string& file_name, const std::vector<Club>& clubs,
                                       const std::vector<Shooter>& shooters, bool with_verein = true);

std::shared_ptr<const db::Snapshot> snapshot_of(const std::filesystem::path& mdb);

// A folder of its own for the test process.
std::filesystem::path test_dir();

}  // namespace ringolan::test_pages
