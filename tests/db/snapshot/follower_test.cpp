// The follower: changes become visible, torn files never do, bad files keep the last good one.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "db/snapshot/follower.h"
#include "snapshot_test_util.h"

namespace ringolan::db::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using jet::ColumnType;

// Version v of a three-table file. Every row carries v; the tables' row counts depend on v and
// the rows are long enough to fill many pages, so a file mixed from two versions shows as
// rows of two stamps, wrong counts or a file libmdb refuses.
int64_t rows_of(int64_t v, int table) { return 400 + v * 13 + table * 50; }

void fill_version(jet::DatabaseWriter& w, int64_t v) {
    for (int t = 0; t < 3; ++t) {
        auto& tab = w.add_table("t" + std::to_string(t), {{"stamp", ColumnType::Long}, {"nr", ColumnType::Long},
                                                          {"pad", ColumnType::Text, 100}});
        for (int64_t i = 0; i < rows_of(v, t); ++i) {
            tab.add_row({v, i, std::string(60 + (i + v) % 40, char('a' + (v + t) % 26))});
        }
    }
}

void save_version(const fs::path& file, int64_t v) {
    jet::DatabaseWriter w;
    fill_version(w, v);
    w.save(file);
}

// Overwrites the file where it is, in pieces with pauses, as a slow writer would.
void write_in_place(const fs::path& file, int64_t v, int pieces, std::chrono::milliseconds pause) {
    jet::DatabaseWriter w;
    fill_version(w, v);
    const auto image = w.image();
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const size_t step = image.size() / size_t(pieces) + 1;
    for (size_t off = 0; off < image.size(); off += step) {
        const size_t n = std::min(step, image.size() - off);
        ASSERT_EQ(::pwrite(fd, image.data() + off, n, off_t(off)), ssize_t(n));
        std::this_thread::sleep_for(pause);
    }
    ASSERT_EQ(::ftruncate(fd, off_t(image.size())), 0);
    ::close(fd);
}

// The version a snapshot holds, or -1 when its tables disagree in any way.
int64_t version_of(const Snapshot& s) {
    auto c = s.connect();
    int64_t v = -2;
    for (int t = 0; t < 3; ++t) {
        const auto r = rows(c.get(), "SELECT min(stamp), max(stamp), count(*), count(DISTINCT nr) FROM t" + std::to_string(t));
        const int64_t lo = std::stoll(r[0][0]), hi = std::stoll(r[0][1]);
        if (lo != hi || (v != -2 && v != lo)) return -1;
        v = lo;
        if (std::stoll(r[0][2]) != rows_of(v, t) || std::stoll(r[0][3]) != rows_of(v, t)) return -1;
    }
    return v;
}

template <class Pred>
bool wait_until(Pred pred, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return pred();
}

int64_t current_version(const SnapshotFollower& f) {
    auto s = f.current();
    return s ? version_of(*s) : 0;
}

bool has_part(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Follower : public ::testing::Test {
protected:
    TempDir dir;
    fs::path file = dir / "wettkampf.mdb";
};

TEST_F(Follower, MissingFileThenCreated) {
    SnapshotFollower f(file);
    auto st = f.wait_for_attempt(5s);
    EXPECT_FALSE(st.has_snapshot);
    EXPECT_EQ(f.current(), nullptr);
    EXPECT_EQ(st.error, file.string() + ": file not found");
    EXPECT_EQ(st.path, file);

    save_version(file, 3);
    ASSERT_TRUE(wait_until([&] { return current_version(f) == 3; }, 3s));
    st = f.status();
    EXPECT_TRUE(st.has_snapshot);
    EXPECT_TRUE(st.error.empty());
    EXPECT_EQ(st.generation, f.current()->info().generation);
    EXPECT_EQ(f.current()->info().source, file);
    EXPECT_EQ(f.current()->info().size, fs::file_size(file));
    EXPECT_EQ(f.current()->info().mtime, fs::last_write_time(file));
    EXPECT_NE(st.last_success, std::chrono::system_clock::time_point{});
}

// A file on a network share gets no change events: the stat alone must find every change, and
// only the stat does here (a follower that checks seldom has not seen it).
TEST_F(Follower, WithoutChangeEventsTheStatFindsEveryChange) {
    save_version(file, 1);
    SnapshotFollower::Options polling;
    polling.change_events = false;
    polling.stat_interval = 200ms;
    SnapshotFollower::Options seldom = polling;
    seldom.stat_interval = 60s;
    SnapshotFollower f(file, polling), slow(file, seldom);
    ASSERT_TRUE(wait_until([&] { return current_version(f) == 1 && current_version(slow) == 1; }, 5s));

    struct Change {
        int64_t version;
        bool replaced;  // written to another name and renamed over the file, else overwritten in place
    };
    for (const Change& c : {Change{2, false}, Change{3, true}, Change{4, false}}) {
        if (c.replaced) {
            save_version(dir / "neu.mdb", c.version);
            fs::rename(dir / "neu.mdb", file);
        } else {
            write_in_place(file, c.version, 4, 0ms);
        }
        // The stat interval, the quiet time and the read, with room for a loaded machine.
        EXPECT_TRUE(wait_until([&] { return current_version(f) == c.version; }, 5s)) << c.version;
    }
    EXPECT_EQ(current_version(slow), 1);  // no change event reached it
}

TEST_F(Follower, BadFileKeepsTheLastGoodSnapshot) {
    save_version(file, 1);
    SnapshotFollower f(file);
    ASSERT_TRUE(wait_until([&] { return current_version(f) == 1; }, 3s));
    const auto good = f.current();
    const uint64_t attempts = f.status().attempts;

    // Garbage replaces the file.
    {
        std::ofstream(dir / "tmp", std::ios::binary) << std::string(50000, 'x');
        fs::rename(dir / "tmp", file);
    }
    ASSERT_TRUE(wait_until([&] { return f.status().attempts > attempts; }, 3s));
    auto st = f.status();
    EXPECT_TRUE(has_part(st.error, file.string()) && has_part(st.error, "not a Jet database")) << st.error;
    EXPECT_FALSE(has_part(st.error, "copy.mdb")) << st.error;
    EXPECT_EQ(f.current(), good);
    EXPECT_TRUE(st.has_snapshot);

    // Deleted: still the last good one.
    fs::remove(file);
    ASSERT_TRUE(wait_until([&] { return has_part(f.status().error, "file not found"); }, 3s));
    EXPECT_EQ(f.current(), good);

    save_version(file, 2);
    ASSERT_TRUE(wait_until([&] { return current_version(f) == 2; }, 3s));
    EXPECT_TRUE(f.status().error.empty());
    EXPECT_GT(f.current()->info().generation, good->info().generation);
}

std::vector<uint8_t> crash_build(const fs::path&) {
    ::signal(SIGABRT, SIG_DFL);
    ::raise(SIGABRT);
    return {};
}

TEST_F(Follower, CrashingReaderIsAnErrorNotACrash) {
    save_version(file, 1);
    SnapshotFollower::Options opt;
    opt.build = crash_build;
    SnapshotFollower f(file, opt);
    const auto st = f.wait_for_attempt(5s);
    EXPECT_FALSE(st.has_snapshot);
    EXPECT_TRUE(has_part(st.error, file.string()) && has_part(st.error, "signal 6")) << st.error;
}

TEST_F(Follower, SetPathSwitchesFiles) {
    const fs::path other = dir / "anderer.mdb";
    save_version(file, 1);
    save_version(other, 7);
    // Declared before the follower: its thread may still call back until it is destroyed.
    std::mutex m;
    std::vector<SnapshotFollower::Status> seen;
    SnapshotFollower f(file);
    f.on_change([&](const SnapshotFollower::Status& s) {
        std::lock_guard lock(m);
        seen.push_back(s);
    });
    ASSERT_TRUE(wait_until([&] { return current_version(f) == 1; }, 3s));

    f.set_path(other);
    EXPECT_EQ(f.status().path, other);
    const auto st = f.wait_for_attempt(5s);
    EXPECT_TRUE(st.has_snapshot) << st.error;
    EXPECT_EQ(current_version(f), 7);
    EXPECT_EQ(f.current()->info().source, other);

    // Changes of the old file no longer matter.
    save_version(file, 2);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(current_version(f), 7);

    f.set_path(dir / "nichts.mdb");
    EXPECT_EQ(f.current(), nullptr);
    EXPECT_TRUE(has_part(f.wait_for_attempt(5s).error, "file not found"));
    {
        std::lock_guard lock(m);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().path, dir / "nichts.mdb");
        EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](const auto& s) { return s.path == other && s.has_snapshot; }));
    }
}

// A slow writer pausing shorter than the quiet time is waited for: exactly one read, after it.
TEST_F(Follower, SlowWriterIsWaitedFor) {
    save_version(file, 1);
    SnapshotFollower f(file);
    ASSERT_TRUE(wait_until([&] { return current_version(f) == 1; }, 3s));
    const uint64_t before = f.status().attempts;
    std::atomic<bool> writing{true};
    std::atomic<int> early{0};
    std::thread watch([&] {
        while (writing) {
            const auto st = f.status();
            if (st.loading || st.attempts != before) ++early;
            std::this_thread::sleep_for(2ms);
        }
    });
    write_in_place(file, 2, 10, 10ms);  // pauses well under the quiet time, even on a busy machine
    writing = false;
    watch.join();
    EXPECT_EQ(early.load(), 0);
    ASSERT_TRUE(wait_until([&] { return current_version(f) == 2; }, 3s));
    EXPECT_EQ(f.status().attempts, before + 1);
    EXPECT_TRUE(f.status().error.empty()) << f.status().error;
}

// A writer rewrites the file every 200 ms, atomically or slowly in place, while readers take
// snapshots: none may be torn, and the last version must show within a second.
TEST_F(Follower, RewrittenFileNeverGivesATornSnapshot) {
    constexpr int64_t kVersions = 14;
    save_version(file, 1);
    SnapshotFollower f(file);
    ASSERT_TRUE(wait_until([&] { return current_version(f) == 1; }, 3s));

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::mutex m;
    std::set<int64_t> versions;
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            int64_t last = 0;
            while (!stop) {
                auto s = f.current();
                const int64_t v = s ? version_of(*s) : 0;
                if (v < 0) ++torn;
                if (v < last) ++torn;  // never back to an older version
                last = std::max(last, v);
                {
                    std::lock_guard lock(m);
                    versions.insert(v);
                }
                std::this_thread::sleep_for(20ms);
            }
        });
    }

    for (int64_t v = 2; v <= kVersions; ++v) {
        const auto t0 = Clock::now();
        if (v % 3 == 0) {
            write_in_place(file, v, 8, 10ms);
        } else {
            save_version(file, v);
        }
        std::this_thread::sleep_until(t0 + 200ms);
    }
    const bool seen_last = wait_until([&] { return current_version(f) == kVersions; }, 5s);
    stop = true;
    for (auto& t : readers) t.join();

    EXPECT_TRUE(seen_last);
    EXPECT_EQ(torn.load(), 0);
    // The follower kept up: several versions were served on the way.
    EXPECT_GE(versions.size(), 4u) << versions.size();
    EXPECT_TRUE(f.status().error.empty() || f.status().has_snapshot);
}

}  // namespace
}  // namespace ringolan::db::test
