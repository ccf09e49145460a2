// ringolan-page: page bytes on standard output, the status line on standard error, exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "server/dispatcher.h"
#include "tests/pages/page_fixture.h"
#include "tests/support/process.h"
#include "tests/server/page_literals.h"
#include "tools/mkdemo/demo.h"

namespace fs = std::filesystem;
using namespace ringolan::test_pages;

namespace {

using ringolan::readback::file_bytes;
using ringolan::readback::Outcome;

// args are passed through the shell as written.
Outcome run(const std::string& args) { return ringolan::readback::run_program(PAGE_BINARY, args, test_dir()); }

class PageTool : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        demo_ = new fs::path(test_dir() / "demo300.mdb");
        ringolan::demo::write_demo(ringolan::demo::DemoOptions{300, 1, true}, *demo_);
    }
    static void TearDownTestSuite() { delete demo_; }
    static std::string db() { return "--db " + demo_->string(); }

    static fs::path* demo_;
};
fs::path* PageTool::demo_ = nullptr;

TEST_F(PageTool, WritesTheDispatchedPageExactly) {
    ringolan::pages::PageContext ctx;
    ctx.snapshot = snapshot_of(*demo_);
    const auto expected = ringolan::server::DispatchPage(ctx, "/vstbl.php", "");
    ASSERT_EQ(expected.status, 200);
    ASSERT_GT(expected.body.size(), kHead.size() + 500) << "the demo has clubs with shooters";

    Outcome o = run(db() + " '/vstbl.php'");
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.err, "200\n");
    EXPECT_TRUE(o.out == expected.body);

    // Upper case, a percent-encoded path and a query text reach the same page.
    o = run("'/VSTBL%2ePHP?x=%41' " + db());
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.err, "200\n");
    EXPECT_TRUE(o.out == expected.body);
}

TEST_F(PageTool, UnknownPageIsNotFound) {
    const Outcome o = run(db() + " '/foo.php?NR=1'");
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.err, "404\n");
    EXPECT_EQ(o.out, kNotFound);
}

TEST_F(PageTool, FramesetKeepsTheRawQueryText) {
    const Outcome o = run(db() + " '/Rahmen%76stbl.php?B=%C4+x&y=<'");
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.err, "200\n");
    EXPECT_EQ(o.out, frameset("nvstbl.php?B=%C4+x&y=&lt;"));
}

TEST_F(PageTool, MissingTableAnswers500WithTheMessage) {
    const fs::path file = write_clubs_file("noverein.mdb", {}, {{1, "1"}}, false);
    const Outcome o = run("--db " + file.string() + " /vstbl.php");
    EXPECT_EQ(o.code, 1);
    EXPECT_TRUE(o.err.starts_with("500 ")) << o.err;
    EXPECT_NE(o.err.find("verein"), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(o.out, "");
}

TEST_F(PageTool, UnreadableFilesAndUsageErrorsExitWith2) {
    const fs::path missing = test_dir() / "missing.mdb";
    Outcome o = run("--db " + missing.string() + " /vstbl.php");
    EXPECT_EQ(o.code, 2);
    EXPECT_NE(o.err.find(missing.string()), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");

    const fs::path garbage = test_dir() / "garbage.mdb";
    std::ofstream(garbage) << "this is not a database file\n";
    o = run("--db " + garbage.string() + " /vstbl.php");
    EXPECT_EQ(o.code, 2);
    EXPECT_NE(o.err.find(garbage.string()), std::string::npos) << o.err;

    o = run("--db " + test_dir().string() + " /vstbl.php");
    EXPECT_EQ(o.code, 2);
    EXPECT_NE(o.err.find(test_dir().string()), std::string::npos) << o.err;

    EXPECT_EQ(run("").code, 2);
    EXPECT_EQ(run("/vstbl.php").code, 2);
    EXPECT_EQ(run(db()).code, 2);
    EXPECT_EQ(run(db() + " /vstbl.php /vst.php").code, 2);
    EXPECT_EQ(run(db() + " --bogus /vstbl.php").code, 2);
    o = run("--db");
    EXPECT_EQ(o.code, 2);
    EXPECT_NE(o.err.find("usage"), std::string::npos);
}

}  // namespace
