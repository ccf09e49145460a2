#include "platform/file_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/file.h"
#include "platform/wakeup.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using namespace ringolan::platform;

namespace {

void write_file(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

struct Folder {
    fs::path path = create_temporary_folder("ringolan-watch-test-");
    ~Folder() { fs::remove_all(path); }
};

}  // namespace

TEST(FolderWatch, TellsChangesOfTheNamedEntryOnly) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> change;
        bool concerns_watched;
    } cases[] = {
        {"written", [](const fs::path& d) { write_file(d / "watched.mdb", "new"); }, true},
        {"replaced by rename", [](const fs::path& d) {
             write_file(d / "next.tmp", "next");
             fs::rename(d / "next.tmp", d / "watched.mdb");
         }, true},
        {"removed", [](const fs::path& d) { fs::remove(d / "watched.mdb"); }, true},
        {"another file written", [](const fs::path& d) { write_file(d / "other.txt", "x"); }, false},
    };
    for (const Case& c : cases) {
        Folder folder;
        write_file(folder.path / "watched.mdb", "old");
        auto watch = FolderWatch::create();
        ASSERT_TRUE(watch);
        ASSERT_TRUE(watch->watch(folder.path));
        c.change(folder.path);
        Wakeup wakeup;
        EXPECT_TRUE(wait_for_change(wakeup, watch.get(), 2000ms).by_events) << c.what;
        EXPECT_EQ(watch->take_events("watched.mdb"), c.concerns_watched) << c.what;
        EXPECT_FALSE(watch->take_events("watched.mdb")) << c.what << ": events are taken once";
    }
}

TEST(FolderWatch, AFolderThatGoesAwayEndsTheWatch) {
    Folder parent;
    const fs::path folder = parent.path / "sub";
    fs::create_directory(folder);
    auto watch = FolderWatch::create();
    ASSERT_TRUE(watch);
    ASSERT_TRUE(watch->watch(folder));
    fs::remove(folder);
    Wakeup wakeup;
    EXPECT_TRUE(wait_for_change(wakeup, watch.get(), 2000ms).by_events);
    EXPECT_TRUE(watch->take_events("anything"));
    EXPECT_FALSE(watch->watching());
    EXPECT_FALSE(watch->watch(folder));
}

TEST(Wakeup, EndsAWaitOnceAndIsClearedByIt) {
    Wakeup wakeup;
    wakeup.signal();
    wakeup.signal();
    EXPECT_TRUE(wait_for_change(wakeup, nullptr, 2000ms).by_wakeup);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wait_for_change(wakeup, nullptr, 50ms).by_wakeup);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
}
