// The demo as a file: reproducible bytes, readable by independent readers, and the program's
// command line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/process.h"
#include "tests/support/read_back.h"
#include "tools/mkdemo/demo.h"

namespace fs = std::filesystem;
using ringolan::demo::DemoOptions;

namespace {

fs::path temp_dir() { return ringolan::readback::scratch_dir("mkdemo_test"); }

using ringolan::readback::file_bytes;
using ringolan::readback::Outcome;

Outcome run(const std::string& args) { return ringolan::readback::run_program(MKDEMO_BINARY, args, temp_dir()); }

}  // namespace

TEST(DemoFile, SameSeedGivesTheSameBytesOnBothPaths) {
    const fs::path dir = temp_dir();
    const DemoOptions options{300, 1, true};
    const auto tables = ringolan::demo::make_demo(options);
    ringolan::demo::write_demo(tables, dir / "tables.mdb");
    const auto summary = ringolan::demo::write_demo(options, dir / "stream1.mdb");
    ringolan::demo::write_demo(options, dir / "stream2.mdb");
    ringolan::demo::write_demo(DemoOptions{300, 2, true}, dir / "seed2.mdb");

    const std::string a = file_bytes(dir / "tables.mdb");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.size() % 4096, 0u) << "Jet 4 files consist of 4096-byte pages";
    EXPECT_TRUE(a == file_bytes(dir / "stream1.mdb"));
    EXPECT_TRUE(a == file_bytes(dir / "stream2.mdb"));
    EXPECT_FALSE(a == file_bytes(dir / "seed2.mdb"));

    size_t rows = 0;
    for (const auto& t : tables) rows += t.rows.size();
    EXPECT_EQ(summary.tables, 12u);
    EXPECT_EQ(summary.rows, rows);
    EXPECT_EQ(summary.bytes, a.size());
    fs::remove_all(dir);
}

TEST(DemoFile, ReadsBackAsGeneratedWithIndependentReaders) {
    const fs::path file = temp_dir() / "demo300.mdb";
    const auto tables = ringolan::demo::make_demo(DemoOptions{});
    ringolan::demo::write_demo(tables, file);
    std::vector<ringolan::readback::ExpectedTable> expected;
    for (const auto& t : tables) expected.push_back({t.name, t.columns, t.rows});
    ringolan::readback::expect_file_reads_back(file, expected);
    fs::remove(file);
}

// The full-size competition: reference usage maps, long-value pages and close to a million rows.
// Takes minutes and gigabytes under the sanitizers; scripts/long-tests.sh runs it on an optimised build.
TEST(DemoFile, FiftyThousandShootersReadBackAsGenerated) {
    if (!std::getenv("RINGOLAN_LONG_TESTS")) GTEST_SKIP() << "set RINGOLAN_LONG_TESTS=1 (scripts/long-tests.sh)";
    const fs::path file = temp_dir() / "demo50k.mdb";
    const auto tables = ringolan::demo::make_demo(DemoOptions{50000, 1, true});
    ringolan::demo::write_demo(tables, file);
    std::vector<ringolan::readback::ExpectedTable> expected;
    for (const auto& t : tables) expected.push_back({t.name, t.columns, t.rows});
    ringolan::readback::expect_file_reads_back(file, expected);
    fs::remove(file);
}

TEST(DemoCli, WritesTheFileAndPrintsOneSummaryLine) {
    const fs::path dir = temp_dir(), file = dir / "cli.mdb", plain = dir / "plain.mdb";
    const Outcome r = run("--shooters 40 --seed 9 --no-itdatum -o " + file.string());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.err.empty());
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_NE(r.out.find("12 tables"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::to_string(fs::file_size(file)) + " bytes"), std::string::npos) << r.out;

    // The options reach the generator: the same options through the library give the same file,
    // and leaving out --no-itdatum gives another.
    ringolan::demo::write_demo(DemoOptions{40, 9, false}, plain);
    EXPECT_TRUE(file_bytes(file) == file_bytes(plain));
    ASSERT_EQ(run("--shooters=40 --seed=9 -o " + plain.string()).code, 0);
    EXPECT_FALSE(file_bytes(file) == file_bytes(plain));

    const Outcome help = run("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("usage: ringolan-mkdemo"), std::string::npos);
    fs::remove_all(dir);
}

TEST(DemoCli, UsageErrorsExitWithCodeTwoAndWriteNothing) {
    const fs::path file = temp_dir() / "never.mdb";
    const std::string o = " -o " + file.string();
    for (const std::string& args : std::vector<std::string>{"", "--shooters 10", "--shooters 0" + o, "--shooters -5" + o,
                                   "--shooters 200001" + o, "--shooters ten" + o, "--shooters 1e3" + o, "--seed -1" + o,
                                   "--seed 18446744073709551616" + o, "--shooters" + o, "-o", "--frobnicate" + o,
                                   "--no-itdatum=1" + o, "extra" + o}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.code, 2) << "args: " << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << "args: " << args;
        EXPECT_GT(r.err.find("usage:"), 0u) << "a reason comes first; args: " << args;
        EXPECT_FALSE(fs::exists(file)) << "args: " << args;
    }
}

TEST(DemoCli, UnwritableTargetIsAnErrorWithoutUsage) {
    const Outcome r = run("--shooters 5 -o " + (temp_dir() / "missing" / "x.mdb").string());
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.find("usage:"), std::string::npos);
    EXPECT_NE(r.err.find("missing"), std::string::npos) << r.err;
}
