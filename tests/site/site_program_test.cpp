// The ringolan-site program: its arguments, the address it prints, answering, and stopping
// on SIGTERM and SIGINT.
#include "site/accounts.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <regex>

#include "site_process_util.h"
#include "site_test_util.h"

namespace {

using namespace site_test;

class SiteProgram : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(SiteProgram, PrintsItsAddressAnswersAndStopsOnTheSignal) {
    site_test::TempDir tmp;
    {
        std::ofstream f(tmp.path() / "accounts.json");
        f << R"({"accounts":[{"id":"club1","password":")" << ringolan::site::hash_password("pw", 10) << "\"}]}";
    }
    Running r = start({"--accounts", (tmp.path() / "accounts.json").string(), "--data",
                       (tmp.path() / "data").string(), "--port", "0", "--listen", "127.0.0.1"});
    const std::string first = read_line(r.out);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(first, m, std::regex("^ringolan-site listening on http://127\\.0\\.0\\.1:([0-9]+)/")))
        << first;
    const uint16_t port = uint16_t(std::stoi(m[1]));
    const std::string reply = http_get(port, "/ergebnisse/loeschen.php?id=club1&pw=pw");
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    EXPECT_TRUE(reply.ends_with("\r\n\r\n0")) << reply;

    ::kill(r.pid, GetParam());
    EXPECT_EQ(wait_exit(r.pid), 0);
    EXPECT_EQ(read_rest(r.out), "ringolan-site stopping\n");
    ::close(r.out);
}

INSTANTIATE_TEST_SUITE_P(Signals, SiteProgram, ::testing::Values(SIGTERM, SIGINT));

TEST(SiteProgramArguments, HashPasswordMakesAVerifiableHash) {
    // Typed as UTF-8, hashed as the Windows-1252 bytes an upload sends.
    Running r = start({"--hash-password", "--iterations", "50"}, "gr\xc3\xbcn\n");
    const std::string hash = read_line(r.out);
    EXPECT_EQ(wait_exit(r.pid), 0);
    ::close(r.out);
    ASSERT_TRUE(hash.ends_with("\n"));
    EXPECT_TRUE(hash.starts_with("pbkdf2-sha256$50$"));
    EXPECT_TRUE(ringolan::site::verify_password("gr\xfcn", hash.substr(0, hash.size() - 1)));
}

TEST(SiteProgramArguments, RefusesBadArgumentsAndFiles) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--data", "/tmp"}, {"--port", "70000", "--accounts", "a", "--data", "d"},
          {"--bogus"}, {"--accounts"}}) {
        Running r = start(args);
        const std::string text = read_rest(r.out);
        EXPECT_EQ(wait_exit(r.pid), 2) << text;
        EXPECT_NE(text.find("usage: ringolan-site"), std::string::npos) << text;
        ::close(r.out);
    }
    Running r = start({"--accounts", "/nonexistent/accounts.json", "--data", "/tmp/x"});
    EXPECT_EQ(read_rest(r.out), "ringolan-site: cannot read the accounts file /nonexistent/accounts.json\n");
    EXPECT_EQ(wait_exit(r.pid), 1);
    ::close(r.out);
}
