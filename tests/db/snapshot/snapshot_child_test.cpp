// The isolated build: damaged files, crashing and hanging readers end in clear errors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <random>
#include <thread>

#include "db/snapshot/snapshot_build.h"
#include "db/snapshot/snapshot_child.h"
#include "snapshot_test_util.h"
#include "tools/mkdemo/demo.h"

namespace ringolan::db::test {
namespace {

using namespace std::chrono_literals;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void write_bytes(const fs::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// No child of this process is left, not even as a zombie.
bool no_children() {
    int status;
    return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

// Dies of SIGSEGV (also under sanitizers, which would catch it).
std::vector<uint8_t> crash(const fs::path&) {
    ::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
    return {};
}
std::vector<uint8_t> hang(const fs::path&) {
    for (;;) std::this_thread::sleep_for(1s);
}
std::vector<uint8_t> exit_silently(const fs::path&) { ::_exit(0); }
std::vector<uint8_t> fail_with_text(const fs::path& p) { throw std::runtime_error("kaputt: " + p.filename().string()); }
std::vector<uint8_t> fail_without_text(const fs::path&) { throw std::runtime_error(""); }
// Larger than any pipe buffer; every byte depends on its position.
std::vector<uint8_t> large(const fs::path&) {
    std::vector<uint8_t> v(5'000'003);
    for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(i * 2654435761u >> 13);
    return v;
}

class IsolatedBuild : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        demo::DemoOptions opt;
        opt.shooters = 120;
        demo::write_demo(opt, *dir_ / "demo.mdb");
    }
    static void TearDownTestSuite() { delete dir_; }
    static inline TempDir* dir_ = nullptr;
    TempDir dir;
};

TEST_F(IsolatedBuild, GoodFileGivesTheSameImageAsInProcess) {
    const BuildResult r = build_snapshot_isolated(*dir_ / "demo.mdb", 20s);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.image, build_snapshot_image(*dir_ / "demo.mdb"));
    EXPECT_GT(r.child_peak_kib, 0);
    EXPECT_TRUE(no_children());
}

// The reader program is told which indexes to make (a list of none included) and then takes no
// statistics; the rows are those of the full build.
TEST_F(IsolatedBuild, OnlyTheIndexesAskedForAndTheSameRows) {
    const BuildResult full = build_snapshot_isolated(*dir_ / "demo.mdb", 20s);
    ASSERT_TRUE(full.ok()) << full.error;
    const std::string indexes =
        "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_schema WHERE type = 'index' ORDER BY name)";
    const std::string rows = "SELECT count(*), sum(sch_id), sum(summe) FROM scheiben";
    const ImageDb full_db(full.image);
    const struct {
        std::vector<std::string> only;
        std::string indexes;
    } cases[] = {{{"SCHEIBEN.sch_id", "ergebnis.Startnr", "nosuch.column"}, "ix_ergebnis_Startnr ix_scheiben_Sch_id"},
                 {{}, "NULL"}};  // none
    for (const auto& c : cases) {
        BuildOptions options;
        options.only_indexes = c.only;
        const BuildResult r = build_snapshot_isolated(*dir_ / "demo.mdb", 20s, options);
        ASSERT_TRUE(r.ok()) << r.error;
        const ImageDb db(r.image);
        EXPECT_EQ(scalar(db.db, indexes), c.indexes);
        EXPECT_EQ(scalar(db.db, "SELECT count(*) FROM sqlite_schema WHERE name = 'sqlite_stat1'"), "0");
        EXPECT_EQ(scalar(db.db, rows), scalar(full_db.db, rows));
    }
    EXPECT_EQ(scalar(full_db.db, "SELECT count(*) FROM sqlite_schema WHERE name = 'sqlite_stat1'"), "1");
}

TEST_F(IsolatedBuild, DamagedFilesGiveErrorsNamingTheFile) {
    const fs::path missing = dir / "missing.mdb";
    BuildResult r = build_snapshot_isolated(missing, 10s);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(contains(r.error, missing.string()) && contains(r.error, "no such file")) << r.error;

    const fs::path empty = dir / "empty.mdb";
    write_bytes(empty, {});
    r = build_snapshot_isolated(empty, 10s);
    EXPECT_TRUE(contains(r.error, empty.string()) && contains(r.error, "not a Jet database")) << r.error;

    const fs::path noise = dir / "noise.mdb";
    std::mt19937 rng(5);
    std::vector<uint8_t> bytes(300000);
    for (auto& b : bytes) b = uint8_t(rng());
    write_bytes(noise, bytes);
    r = build_snapshot_isolated(noise, 10s);
    EXPECT_TRUE(contains(r.error, noise.string()) && contains(r.error, "not a Jet database")) << r.error;

    // A demo file cut in half keeps a valid header; libmdb then fails on the missing pages.
    const fs::path half = dir / "half.mdb";
    auto demo_bytes = read_bytes(*dir_ / "demo.mdb");
    demo_bytes.resize(demo_bytes.size() / 2);
    write_bytes(half, demo_bytes);
    r = build_snapshot_isolated(half, 10s);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(contains(r.error, half.string()) && contains(r.error, "incomplete")) << r.error;

    // Cut after the catalog: libmdb finds the tables but not all their pages.
    for (size_t keep : {demo_bytes.size() * 3 / 4, read_bytes(*dir_ / "demo.mdb").size() - 4096}) {
        auto cut = read_bytes(*dir_ / "demo.mdb");
        cut.resize(keep);
        write_bytes(half, cut);
        r = build_snapshot_isolated(half, 10s);
        EXPECT_TRUE(contains(r.error, half.string()) && contains(r.error, "incomplete")) << keep << ": " << r.error;
    }

    // A Jet file without tables is of no use as a competition.
    const fs::path bare = dir / "bare.mdb";
    jet::DatabaseWriter().save(bare);
    r = build_snapshot_isolated(bare, 10s);
    EXPECT_TRUE(contains(r.error, bare.string()) && contains(r.error, "no tables")) << r.error;
    EXPECT_TRUE(r.image.empty());
    EXPECT_TRUE(no_children());
}

TEST_F(IsolatedBuild, CrashOfTheReaderIsReported) {
    const BuildResult r = build_snapshot_isolated(*dir_ / "demo.mdb", 10s, crash);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(contains(r.error, "crashed with signal 11")) << r.error;
    EXPECT_TRUE(contains(r.error, (*dir_ / "demo.mdb").string())) << r.error;
    EXPECT_TRUE(no_children());
}

TEST_F(IsolatedBuild, HangingReaderIsStoppedAtTheLimit) {
    const auto t0 = std::chrono::steady_clock::now();
    const BuildResult r = build_snapshot_isolated(*dir_ / "demo.mdb", 300ms, hang);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_TRUE(contains(r.error, "did not finish within 300 ms")) << r.error;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 5s);
    EXPECT_TRUE(no_children());
}

TEST_F(IsolatedBuild, ReaderEndingWithoutAnswer) {
    const BuildResult r = build_snapshot_isolated(*dir_ / "demo.mdb", 10s, exit_silently);
    EXPECT_TRUE(contains(r.error, "without a complete answer")) << r.error;
}

TEST_F(IsolatedBuild, ExceptionTextOfTheReaderIsPassedOn) {
    const BuildResult r = build_snapshot_isolated(dir / "x.mdb", 10s, fail_with_text);
    EXPECT_EQ(r.error, (dir / "x.mdb").string() + ": kaputt: x.mdb");
    const BuildResult silent = build_snapshot_isolated(dir / "x.mdb", 10s, fail_without_text);
    EXPECT_FALSE(silent.ok());
    EXPECT_TRUE(silent.image.empty());
    EXPECT_TRUE(contains(silent.error, "without saying why")) << silent.error;
}

TEST_F(IsolatedBuild, LargeImagesArriveIntact) {
    const BuildResult r = build_snapshot_isolated(dir / "x.mdb", 20s, large);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.image, large({}));
}

TEST_F(IsolatedBuild, SeveralThreadsBuildAtOnce) {
    // Each thread's child may inherit the others' pipes; every build must still end properly.
    std::vector<std::thread> threads;
    std::atomic<int> good{0}, crashed{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 3; ++i) {
                if (t % 2 == 0) {
                    good += build_snapshot_isolated(*dir_ / "demo.mdb", 20s).ok();
                } else {
                    crashed += contains(build_snapshot_isolated(*dir_ / "demo.mdb", 20s, crash).error, "signal 11");
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good.load(), 6);
    EXPECT_EQ(crashed.load(), 6);
    EXPECT_TRUE(no_children());
}

}  // namespace
}  // namespace ringolan::db::test
