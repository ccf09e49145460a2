// Opening competition files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "db/dm/results_database.h"
#include "db/jet/journal.h"
#include "db/jet/writer.h"

namespace fs = std::filesystem;
using namespace ringolan::db;

namespace {

fs::path temp_dir() {
    fs::path d = fs::temp_directory_path() / ("dm_test_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
}

fs::path write_file(const std::string& name, const std::string& club) {
    ringolan::jet::DatabaseWriter w;
    w.add_table("verein", {{"Vereinsnr", ringolan::jet::ColumnType::Text, 10},
                           {"Name", ringolan::jet::ColumnType::Text, 50}})
        .add_row({std::string("1"), club});
    const fs::path p = temp_dir() / name;
    w.save(p);
    return p;
}

std::string club_name(const ResultsDatabase& dm) {
    auto snap = dm.Current();
    if (!snap) return "<closed>";
    auto c = snap->connect();
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(c.get(), "SELECT Name FROM verein", -1, &st, nullptr);
    std::string out = sqlite3_step(st) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) : "";
    sqlite3_finalize(st);
    return out;
}

}  // namespace

TEST(ResultsDatabase, OpensSwitchesAndFailsClosed) {
    const fs::path a = write_file("a b.mdb", "Schützen A");  // a blank in the path is fine
    const fs::path b = write_file("b.mdb", "Schützen B");
    ResultsDatabase dm;
    EXPECT_FALSE(dm.Connected());
    EXPECT_EQ(dm.Current(), nullptr);

    ASSERT_TRUE(dm.OpenDatabase(a.string()));
    EXPECT_TRUE(dm.Connected());
    EXPECT_EQ(club_name(dm), "Schützen A");
    EXPECT_EQ(dm.DatabasePath(), a);

    ASSERT_TRUE(dm.OpenDatabase(b.string()));
    EXPECT_EQ(club_name(dm), "Schützen B");

    const fs::path missing = temp_dir() / "fehlt.mdb";
    EXPECT_FALSE(dm.OpenDatabase(missing.string()));
    EXPECT_FALSE(dm.Connected());
    EXPECT_EQ(dm.DatabasePath(), missing);

    const fs::path junk = temp_dir() / "junk.mdb";
    std::ofstream(junk) << std::string(9000, 'x');
    EXPECT_FALSE(dm.OpenDatabase(junk.string()));
    EXPECT_FALSE(dm.OpenDatabase(temp_dir().string()));  // a folder

    ASSERT_TRUE(dm.OpenDatabase(a.string()));
    EXPECT_EQ(club_name(dm), "Schützen A");
    fs::remove_all(temp_dir());
}

// ";" and "=" in folder and file names are characters of the path like any other.
TEST(ResultsDatabase, OpensFilesInFoldersWithSemicolons) {
    const struct {
        const char* folder;
        const char* file;
    } cases[] = {
        {"Saison;2024", "sport.mdb"},
        {"a;Data Source=b;", "sport.mdb"},
        {";", "x;y.mdb"},
    };
    ResultsDatabase dm;
    for (const auto& c : cases) {
        const std::string club = std::string("Verein ") + c.folder;
        fs::create_directories(temp_dir() / c.folder);
        const fs::path file = write_file(std::string(c.folder) + "/" + c.file, club);
        ASSERT_TRUE(dm.OpenDatabase(file)) << file;
        EXPECT_EQ(dm.DatabasePath(), file);
        EXPECT_EQ(dm.Status().path, file);
        EXPECT_EQ(club_name(dm), club);
    }
    fs::remove_all(temp_dir());
}

namespace ringolan::db {
namespace {

// A time-stamp write that was cut off after its journal and some page writes: opening the file
// undoes it, so the pages come from the file as it was before.
TEST(ResultsDatabase, InterruptedInPlaceWriteIsUndoneBeforeReading) {
    const fs::path file = write_file("journal.mdb", "Schützen Alt");
    const fs::path changed = write_file("changed.mdb", "Schützen Neu");
    std::string old_bytes, new_bytes;
    {
        std::ifstream a(file, std::ios::binary), b(changed, std::ios::binary);
        old_bytes.assign(std::istreambuf_iterator<char>(a), {});
        new_bytes.assign(std::istreambuf_iterator<char>(b), {});
    }
    ASSERT_EQ(old_bytes.size(), new_bytes.size());
    // The journal holds every page that differs; then the file gets the new pages.
    std::vector<jet::PageImage> originals;
    for (std::size_t at = 0; at < old_bytes.size(); at += jet::kPageSize) {
        if (old_bytes.compare(at, jet::kPageSize, new_bytes, at, jet::kPageSize) == 0) continue;
        jet::PageImage image;
        image.number = uint32_t(at / jet::kPageSize);
        std::copy_n(old_bytes.begin() + long(at), jet::kPageSize, image.bytes.begin());
        originals.push_back(image);
    }
    ASSERT_FALSE(originals.empty());
    jet::write_journal(file, old_bytes.size(), originals, nullptr);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << new_bytes;

    ResultsDatabase dm;
    ASSERT_TRUE(dm.OpenDatabase(file.string()));
    EXPECT_EQ(club_name(dm), "Schützen Alt");
    EXPECT_FALSE(fs::exists(jet::journal_path(file)));
    fs::remove_all(temp_dir());
}

}  // namespace
}  // namespace ringolan::db
