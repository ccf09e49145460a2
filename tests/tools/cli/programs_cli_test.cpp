// The conventions every program keeps: --help and --version on standard output with exit code 0,
// usage errors with code 2, a man page, and log lines without a time stamp in the journal.
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "common/version.h"
#include "tests/support/process.h"

namespace {

using ringolan::readback::run_program;

struct Program {
    std::string name, path;
};

const Program kPrograms[] = {
#include "programs.inc"
};

// The arguments of a usage error; the desktop program is given a platform so that the missing
// display is not reported first.
std::string usage_error_command(const Program& p, std::string& args) {
    if (p.name == "ringolan-snapshot-reader") {
        args = "";  // it takes exactly one file
        return p.path;
    }
    args = "--no-such-option";
    return p.name == "ringolan" ? "QT_QPA_PLATFORM=offscreen " + p.path : p.path;
}

std::filesystem::path work_dir() { return ringolan::readback::scratch_dir("programs_cli"); }

TEST(ProgramsCli, EveryProgramIsInTheTable) { EXPECT_GE(std::size(kPrograms), 7u); }

TEST(ProgramsCli, HelpGoesToStandardOutputWithOptionsExamplesAndExitCodes) {
    for (const Program& p : kPrograms) {
        const auto r = run_program(p.path, "--help", work_dir());
        EXPECT_EQ(r.code, 0) << p.name;
        EXPECT_EQ(r.err, "") << p.name;
        EXPECT_EQ(r.out.rfind("usage: " + p.name + " ", 0), 0u) << p.name << ": " << r.out;
        for (const char* part : {"\nOptions:\n", "  --version ", "\nExamples:\n  $ ", "\nExit status:\n  0  ",
                                 "\n  2  usage error"})
            EXPECT_NE(r.out.find(part), std::string::npos) << p.name << " lacks \"" << part << "\"";
    }
}

TEST(ProgramsCli, VersionNamesProgramProjectVersionAndCommit) {
    const std::string tail = std::string(" ") + RINGOLAN_PROJECT_VERSION + " (" + ringolan::build_info::kCommit + ")\n";
    for (const Program& p : kPrograms) {
        const auto r = run_program(p.path, "--version", work_dir());
        EXPECT_EQ(r.code, 0) << p.name;
        EXPECT_EQ(r.out, p.name + tail);
    }
}

TEST(ProgramsCli, UnwritableStandardOutputFailsTheAnswer) {
    for (const Program& p : kPrograms)
        for (const char* option : {"--help", "--version"}) {
            const int rc = std::system((p.path + " " + option + " >/dev/full").c_str());
            EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << p.name << " " << option;
        }
}

TEST(ProgramsCli, UsageErrorExitsWithTwoAndShowsTheUsage) {
    for (const Program& p : kPrograms) {
        std::string args;
        const std::string command = usage_error_command(p, args);
        const auto r = run_program(command, args, work_dir());
        EXPECT_EQ(r.code, 2) << p.name;
        EXPECT_NE(r.err.find("usage: " + p.name + " "), std::string::npos) << p.name << ": " << r.err;
        EXPECT_EQ(r.out, "") << p.name;
    }
}

#ifdef RINGOLAN_MAN_DIR
TEST(ProgramsCli, ManPagesHaveNameSynopsisOptionsAndExitStatus) {
    for (const Program& p : kPrograms) {
        if (p.name == "ringolan-snapshot-reader") continue;  // internal, no page
        const std::string page = std::string(RINGOLAN_MAN_DIR) + "/" + p.name + ".1.gz";
        ASSERT_TRUE(std::filesystem::is_regular_file(page)) << page;
        const auto r = run_program("gzip", "-dc " + page, work_dir());
        EXPECT_EQ(r.code, 0) << page;
        for (const std::string& part : {".SH NAME\n" + p.name + " \\-", ".SH SYNOPSIS\n.B " + p.name,
                                       std::string(".SH OPTIONS"), std::string(".SH \"EXIT STATUS\"")})
            EXPECT_NE(r.out.find(part), std::string::npos) << page << " lacks \"" << part << "\"";
    }
}
#endif

// "DEVICE:INODE" of a file, as systemd sets JOURNAL_STREAM.
std::string journal_stream_of(const std::filesystem::path& file) {
    std::ofstream(file).flush();
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return "";
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

TEST(ProgramsCli, ServerLogLinesLeaveTheTimeToTheJournal) {
    const Program* server = nullptr;
    for (const Program& p : kPrograms) server = p.name == "ringolan-server" ? &p : server;
    if (server == nullptr) GTEST_SKIP() << "ringolan-server not built";
    const auto dir = work_dir();
    const std::string args = "--db " + (dir / "none.mdb").string() + " --ini " + (dir / "none.ini").string();
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )");
    struct Case {
        std::string environment;
        bool stamped;
    };
    const std::string journal = journal_stream_of(dir / "stderr.txt");  // the file run_program writes
    ASSERT_FALSE(journal.empty());
    for (const Case& c : {Case{"", true}, Case{"JOURNAL_STREAM=" + journal + " ", false},
                          Case{"JOURNAL_STREAM=1:1 ", true}}) {
        const auto r = run_program(c.environment + server->path, args, dir);
        EXPECT_EQ(r.code, 1) << r.err;
        const auto at = r.err.find("Datenbank konnte nicht");
        ASSERT_NE(at, std::string::npos) << r.err;
        const std::size_t line = r.err.rfind('\n', at) == std::string::npos ? 0 : r.err.rfind('\n', at) + 1;
        EXPECT_EQ(std::regex_search(r.err.substr(line, at - line), stamp), c.stamped) << c.environment << r.err;
        EXPECT_EQ(at == line, !c.stamped) << c.environment << r.err;
    }
}

}  // namespace
