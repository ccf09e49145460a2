// A writer process killed at every kind of point: after recovery the file is the old or the new one.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "db/jet/inplace.h"
#include "db/jet/journal.h"
#include "tests/db/itdatum/fixture.h"

using namespace itdatum_test;

namespace {

// Steps a complete write goes through (the hook is called after each).
int count_steps(const fs::path& file, const std::string& text) {
    int steps = 0;
    jet::InPlaceOptions o;
    o.hook = [&](const char*) { ++steps; };
    EXPECT_TRUE(jet::write_itdatum(file, text, o).written());
    return steps;
}

// Runs the write in a child that kills itself right after step `stop` (0: never).
void killed_write(const fs::path& file, const std::string& text, int stop) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int step = 0;
        jet::InPlaceOptions o;
        o.hook = [&](const char*) {
            if (++step == stop) ::raise(SIGKILL);
        };
        jet::write_itdatum(file, text, o);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (stop > 0) {
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child was not stopped at step " << stop;
    } else {
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

struct Case {
    bool with_row;
    std::string text;
};

}  // namespace

TEST(ItdatumKill, HundredKilledWritesLeaveTheOldOrTheNewFile) {
    const std::vector<Case> cases = {{true, "12.12.2026 12:12:12"},       // same length: in place
                                     {true, std::string(200, 'L')},        // longer: rows move
                                     {false, "12.12.2026 12:12:12"}};      // appended
    std::mt19937 rng(20261209);
    int runs = 0, old_seen = 0, new_seen = 0;
    for (const Case& c : cases) {
        const fs::path dir = scratch(c.with_row ? "kill_row" : "kill_append");
        Demo demo = make_demo_file(dir, c.with_row);
        const auto old_image = file_bytes(demo.file);
        const int steps = count_steps(demo.file, c.text);
        ASSERT_GE(steps, 6);
        const auto new_image = file_bytes(demo.file);
        ASSERT_NE(old_image, new_image);

        const int per_case = c.with_row && c.text.size() < 50 ? 34 : 33;
        for (int k = 0; k < per_case; ++k, ++runs) {
            put_bytes(demo.file, old_image);
            // Every step at least once, then random ones.
            const int stop = k < steps ? k + 1 : int(rng() % unsigned(steps)) + 1;
            killed_write(demo.file, c.text, stop);
            // Recovery happens at the next open, by the server or the next write.
            const auto r = jet::recover(demo.file);
            EXPECT_NE(r, jet::Recovery::Busy);
            EXPECT_FALSE(fs::exists(jet::journal_path(demo.file)));
            const auto now = file_bytes(demo.file);
            const bool is_old = now == old_image, is_new = now == new_image;
            EXPECT_TRUE(is_old || is_new) << "stopped after step " << stop << " of " << steps;
            old_seen += is_old;
            new_seen += is_new;
        }
        // After a kill, the next write recovers first and then succeeds.
        put_bytes(demo.file, old_image);
        killed_write(demo.file, c.text, steps - 3);
        ASSERT_TRUE(fs::exists(jet::journal_path(demo.file)));
        EXPECT_TRUE(jet::write_itdatum(demo.file, c.text).written());
        EXPECT_EQ(file_bytes(demo.file), new_image);
    }
    EXPECT_EQ(runs, 100);
    EXPECT_GT(old_seen, 0);
    EXPECT_GT(new_seen, 0);
}

TEST(ItdatumKill, KilledAfterRandomDelaysLeaveTheOldOrTheNewFile) {
    // Without hooks: the parent kills the writer after a random time within a write's duration.
    const fs::path dir = scratch("kill_timed");
    Demo demo = make_demo_file(dir, false);
    const auto old_image = file_bytes(demo.file);
    const std::string text = "14.12.2026 14:14:14";
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(jet::write_itdatum(demo.file, text).written());
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    const auto new_image = file_bytes(demo.file);
    const long span = std::max<long>(2000, long(took.count()) * 2);
    const int runs = std::getenv("RINGOLAN_LONG_TESTS") ? 1000 : 100;
    std::mt19937 rng(7);
    int old_seen = 0, new_seen = 0;
    for (int k = 0; k < runs; ++k) {
        put_bytes(demo.file, old_image);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            jet::write_itdatum(demo.file, text);
            ::_exit(0);
        }
        ::usleep(useconds_t(long(rng() % unsigned(span))));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_NE(jet::recover(demo.file), jet::Recovery::Busy);
        const auto now = file_bytes(demo.file);
        EXPECT_TRUE(now == old_image || now == new_image) << "run " << k;
        old_seen += now == old_image;
        new_seen += now == new_image;
    }
    EXPECT_EQ(old_seen + new_seen, runs);
    std::cout << "killed writes: " << old_seen << " left the old file, " << new_seen << " the new one\n";
}
