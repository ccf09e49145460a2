
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <utility>

#include "common/cli.h"
#include "common/log.h"
#include "common/version.h"

using namespace ringolan;

TEST(LogLine, TimeStampOnlyWhenAsked) {
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d started\n)");
    EXPECT_TRUE(std::regex_match(logging::format_line("started", true), stamped));
    EXPECT_EQ(logging::format_line("started", false), "started\n");
}

TEST(LogLine, JournalStreamNamesDeviceAndInode) {
    struct Case {
        const char* value;
        bool parsed;
        uint64_t device, inode;
    };
    const Case cases[] = {
        {"2049:1234", true, 2049, 1234},         {"0:18446744073709551615", true, 0, UINT64_MAX},
        {nullptr, false, 0, 0},                  {"", false, 0, 0},
        {"2049:1234x", false, 0, 0},             {"1234", false, 0, 0},
        {"2049 1234", false, 0, 0},
    };
    for (const Case& c : cases) {
        uint64_t device = 7, inode = 7;
        EXPECT_EQ(logging::parse_journal_stream(c.value, device, inode), c.parsed) << (c.value ? c.value : "(null)");
        if (c.parsed) {
            EXPECT_EQ(std::pair(device, inode), std::pair(c.device, c.inode)) << c.value;
        }
    }
}

TEST(StandardOptions, HelpAndVersionOnly) {
    struct Case {
        const char* arg;
        cli::StandardOption option;
    };
    const Case cases[] = {{"--help", cli::StandardOption::help}, {"-h", cli::StandardOption::help},
                          {"--version", cli::StandardOption::version}, {"-v", cli::StandardOption::none},
                          {"--versions", cli::StandardOption::none},  {"help", cli::StandardOption::none}};
    for (const Case& c : cases) EXPECT_EQ(cli::standard_option(c.arg), c.option) << c.arg;
}

TEST(StandardOptions, VersionLineNamesProgramVersionAndCommit) {
    EXPECT_EQ(cli::version_line("ringolan-x"), std::string("ringolan-x ") + RINGOLAN_PROJECT_VERSION + " (" +
                                                   build_info::kCommit + ")\n");
    EXPECT_TRUE(std::regex_match(std::string(build_info::kCommit), std::regex("[0-9a-f]{4,40}|unknown")))
        << build_info::kCommit;
}
