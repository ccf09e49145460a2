#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "common/cli.h"
#include "common/log.h"
#include "common/version.h"

using namespace ringolan;

TEST(LogLine, TimeStampOnlyWhenAsked) {
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d started\n)");
    EXPECT_TRUE(std::regex_match(logging::format_line("started", true), stamped));
    EXPECT_EQ(logging::format_line("started", false), "started\n");
}

TEST(LogLine, JournalStreamMustNameTheFileOfTheDescriptor) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const int fd = ::fileno(file);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    const std::string dev = std::to_string(st.st_dev), ino = std::to_string(st.st_ino);
    const std::string other_ino = std::to_string(st.st_ino + 1);
    struct Case {
        const char* value;
        int fd;
        bool journal;
    };
    const std::string same = dev + ":" + ino, other = dev + ":" + other_ino, trailing = same + "x";
    const Case cases[] = {
        {same.c_str(), fd, true},       {nullptr, fd, false},         {"", fd, false},
        {other.c_str(), fd, false},     {trailing.c_str(), fd, false}, {ino.c_str(), fd, false},
        {same.c_str(), -1, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(logging::is_journal_stream(c.value, c.fd), c.journal) << (c.value ? c.value : "(null)") << " fd " << c.fd;
    std::fclose(file);
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
