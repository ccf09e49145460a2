#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

using namespace std::chrono_literals;
using ringolan::platform::ChildProcess;
using ringolan::platform::ExitStatus;

namespace {

// A shell command as the child, its answer channel being descriptor 3.
ChildProcess shell(const std::string& command, std::vector<std::string> defaults = {}) {
    return ChildProcess::start({"/bin/sh", {"-c", command}, std::move(defaults)});
}

// Everything the child answers, until the channel ends or the limit passes.
std::string answer_of(ChildProcess& child, std::chrono::milliseconds limit = 5000ms) {
    std::string text;
    char buf[256];
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::size_t got = 0;
        const auto r = child.read(buf, sizeof buf, 50ms, got);
        if (r == ChildProcess::Read::end || r == ChildProcess::Read::failed) break;
        text.append(buf, got);
    }
    return text;
}

}  // namespace

TEST(ChildProcess, ReportsHowTheChildEnded) {
    struct Case {
        std::string program;
        std::string command;
        bool crashed;
        int code;
    } cases[] = {
        {"/bin/sh", "exit 0", false, 0},
        {"/bin/sh", "exit 7", false, 7},
        {"/bin/sh", "kill -SEGV $$", true, 11},
        {"/nonexistent/program", "", false, ringolan::platform::kStartFailedExit},
    };
    for (const Case& c : cases) {
        ChildProcess child = ChildProcess::start({c.program, {"-c", c.command}, {}});
        answer_of(child);
        const ExitStatus status = child.kill_and_wait();
        EXPECT_EQ(status.crashed, c.crashed) << c.program << " " << c.command;
        EXPECT_EQ(status.code, c.code) << c.program << " " << c.command;
        EXPECT_EQ(status.succeeded(), !c.crashed && c.code == 0);
    }
}

TEST(ChildProcess, AnswersOnItsChannelAndGetsDefaultsOnlyForUnsetNames) {
    ::setenv("RINGOLAN_SET_BY_PARENT", "parent", 1);
    ::unsetenv("RINGOLAN_UNSET");
    struct Case {
        std::string variable, fallback, expected;
    } cases[] = {
        {"RINGOLAN_UNSET", "RINGOLAN_UNSET=default", "default"},
        {"RINGOLAN_SET_BY_PARENT", "RINGOLAN_SET_BY_PARENT=default", "parent"},
        // A name that only begins like a set one is still unset.
        {"RINGOLAN_SET", "RINGOLAN_SET=default", "default"},
    };
    for (const Case& c : cases) {
        ChildProcess child = shell("printf %s \"$" + c.variable + "\" >&3", {c.fallback});
        EXPECT_EQ(answer_of(child), c.expected) << c.variable;
        EXPECT_TRUE(child.kill_and_wait().succeeded());
    }
}

TEST(ChildProcess, WaitsNoLongerThanAskedAndKillsAChildThatHangs) {
    ChildProcess child = shell("exec sleep 30");  // the shell itself hangs: no orphan outlives the test
    char buf[16];
    std::size_t got = 1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(child.read(buf, sizeof buf, 100ms, got), ChildProcess::Read::nothing);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(child.try_wait());
    const ExitStatus status = child.kill_and_wait();
    EXPECT_TRUE(status.crashed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(ChildProcess, TwoWayChannelCarriesCommandsToTheChild) {
    ChildProcess child = ChildProcess::start(
        {"/bin/sh", {"-c", "read a <&3; read b <&3; printf '%s+%s' \"$a\" \"$b\" >&3"}, {}, /*two_way=*/true});
    ASSERT_TRUE(child.send("eins\nzwei\n", 10));
    EXPECT_EQ(answer_of(child), "eins+zwei");
    EXPECT_EQ(child.take_handle(), ringolan::platform::kNoHandle);  // none came along
    EXPECT_TRUE(child.kill_and_wait().succeeded());
    EXPECT_FALSE(child.send("x", 1));  // the channel is gone with the child
    // A one-way channel takes no commands.
    ChildProcess one_way = shell("exit 0");
    EXPECT_FALSE(one_way.send("x", 1));
}
