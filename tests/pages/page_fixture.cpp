#include "tests/pages/page_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "db/jet/writer.h"
#include "db/snapshot/snapshot_build.h"

namespace ringolan::test_pages {

namespace fs = std::filesystem;
using jet::ColumnType;

namespace {

// Removes the test folder when the test program ends.
class RemoveTestDir : public ::testing::Environment {
public:
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(test_dir(), ec);
    }
};
[[maybe_unused]] ::testing::Environment* const kCleanup = ::testing::AddGlobalTestEnvironment(new RemoveTestDir);

}  // namespace

fs::path test_dir() {
    const fs::path d = fs::temp_directory_path() / ("ringolan_pages_test_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
}

fs::path write_clubs_file(const std::string& file_name, const std::vector<Club>& clubs,
                          const std::vector<Shooter>& shooters, bool with_verein) {
    jet::DatabaseWriter w;
    auto& starter = w.add_table("starter", {{"Startnr", ColumnType::Long},
                                            {"Nachname", ColumnType::Text, 50},
                                            {"Vorname", ColumnType::Text, 50},
                                            {"Vereinsnr", ColumnType::Text, 10},
                                            {"waffe", ColumnType::Text, 20},
                                            {"Klasse", ColumnType::Text, 30}});
    for (const Shooter& s : shooters)
        starter.add_row({s.startnr, std::string("Muster"), std::string("Max"), s.vereinsnr, std::string("LG"),
                         std::string("Herren")});
    if (with_verein) {
        auto& verein = w.add_table("verein", {{"Vereinsnr", ColumnType::Text, 10}, {"Name", ColumnType::Text, 80}});
        for (const Club& c : clubs) verein.add_row({c.nr, c.name});
    }
    const fs::path file = test_dir() / file_name;
    w.save(file);
    return file;
}

std::shared_ptr<const db::Snapshot> snapshot_of(const fs::path& mdb) {
    db::SnapshotInfo info;
    info.source = mdb;
    info.generation = 1;
    return db::Snapshot::from_image(db::build_snapshot_image(mdb), info);
}

}  // namespace ringolan::test_pages
