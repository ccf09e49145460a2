// Several ringolan-site processes on one PostgreSQL database: what one loads another serves (its
// live view's event stream too), and a process killed in the middle of reading a posted file
// leaves the last complete data.
#include "site/accounts.h"
#include "site/pg_conn.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <thread>

#include "event_client.h"
#include "site_process_util.h"
#include "site_test_util.h"
#include "test_stores.h"

using namespace site_test;

namespace {

struct Site {
    Running process;
    uint16_t port = 0;
};

class SitePostgresProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (!postgres_base()) GTEST_SKIP() << kNoPostgres;
        schema = std::make_unique<PgSchema>();
        std::ofstream f(tmp.path() / "accounts.json");
        f << R"({"accounts":[{"id":"club1","password":")" << ringolan::site::hash_password("pw", 10) << "\"}]}";
    }
    void TearDown() override {
        for (Site& s : sites) {
            if (s.process.pid > 0) {
                ::kill(s.process.pid, SIGTERM);
                wait_exit(s.process.pid);
            }
            ::close(s.process.out);
        }
    }

    Site& start_site() {
        const std::string data = (tmp.path() / ("data" + std::to_string(sites.size()))).string();
        Site& s = sites.emplace_back();
        s.process = start({"--accounts", (tmp.path() / "accounts.json").string(), "--data", data, "--database",
                           schema->uri(), "--port", "0", "--listen", "127.0.0.1"});
        const std::string first = read_line(s.process.out);
        s.port = listening_port(first);
        EXPECT_NE(s.port, 0) << first;
        return s;
    }
    static std::string insert(const Site& s) { return body_of(http_get(s.port, "/ergebnisse/einfuegen.php?id=club1&pw=pw")); }
    static std::string count(const Site& s, const std::string& table) {
        return body_of(http_get(s.port, "/ergebnisse/anzahl.php?id=club1&tabelle=" + table));
    }

    TempDir tmp;
    std::unique_ptr<PgSchema> schema;
    std::deque<Site> sites;  // references stay valid as sites are added
};

}  // namespace

TEST_F(SitePostgresProgram, WhatOneProcessLoadsTheOtherServes) {
    const Site& a = start_site();
    const Site& b = start_site();
    EXPECT_EQ(body_of(http_get(a.port, "/ergebnisse/loeschen.php?id=club1&pw=pw")), "0");
    EXPECT_TRUE(body_of(post_file(a.port, "club1", gzip("#*iv#*'1','SV Eins');\r\n#*iv#*'2','SV Zwei');\r\n")))
                    .starts_with("OK "));
    EXPECT_EQ(insert(a), "OK verein=2");
    EXPECT_EQ(count(b, "verein"), "2");
    // The next table posted to one and loaded by the other, as requests of one upload may be spread.
    post_file(b.port, "club1", gzip("#*is#*'7','M\xfcller','Hans','LG','1','A',0);\r\n"));
    EXPECT_EQ(insert(a), "OK starter=1");
    EXPECT_EQ(count(b, "starter"), "1");
    EXPECT_NE(body_of(http_get(b.port, "/ergebnisse/tabelle.php?id=club1&tabelle=starter")).find("<td>M\xc3\xbcller</td>"),
              std::string::npos);
}

TEST_F(SitePostgresProgram, ALoadThroughOneReachesTheOthersLiveView) {
    const Site& a = start_site();
    const Site& b = start_site();
    post_file(a.port, "club1", gzip("#*iv#*'1','SV Eins');\r\n"));
    ASSERT_EQ(insert(a), "OK verein=1");
    Client events(b.port, "/a/club1/api/v1/events");
    const auto first = states(events.read_until([](const std::string& s) { return !states(s).empty(); }));
    ASSERT_FALSE(first.empty());
    // b hears of a's load only through the database's notification.
    post_file(a.port, "club1", gzip("#*iv#*'2','SV Zwei');\r\n"));
    ASSERT_EQ(insert(a), "OK verein=1");
    // (The state found on connecting may be announced once more when it is first served.)
    const auto after = states(events.read_until([&](const std::string& s) {
        const auto seen = states(s);
        return !seen.empty() && seen.back() > first.back();
    }));
    ASSERT_GT(after.back(), first.back());
    const std::string state = body_of(http_get(b.port, "/a/club1/api/v1/state"));
    EXPECT_NE(state.find("\"state\":" + std::to_string(after.back())), std::string::npos) << state;
}

TEST_F(SitePostgresProgram, AKilledReadOfAPostedFileLeavesTheLastCompleteData) {
    Site& a = start_site();
    const Site& b = start_site();
    post_file(a.port, "club1", gzip("#*iv#*'1','a');\r\n#*iv#*'2','b');\r\n#*iv#*'3','c');\r\n"));
    ASSERT_EQ(insert(a), "OK verein=3");

    constexpr int kRows = 60000;  // big enough to be caught in the middle of its COPY
    std::string dump;
    for (int i = 0; i < kRows; ++i)
        dump += "#*is#*'" + std::to_string(i) + "','Nachname " + std::to_string(i) + "','Vorname','LG','12','A',0);\r\n";
    const std::string packed = gzip(dump);
    // A posted file is read into rows as it arrives; a's answer never comes.
    std::thread posting([&] { post_file(a.port, "club1", packed); });

    // Waits until a's COPY has sent rows, then kills it.
    const std::string copied_so_far =
        "SELECT p.tuples_processed FROM pg_stat_progress_copy p JOIN pg_stat_activity s USING (pid) "
        "WHERE s.application_name = $1";
    std::int64_t copied = 0;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         copied < 1000 && std::chrono::steady_clock::now() < until;) {
        const auto r = ringolan::site::pg::exec(schema->admin(), copied_so_far, {{schema->name()}});
        copied = r.rows() ? r.integer(0, 0) : 0;
        if (copied < 1000) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(a.process.pid, SIGKILL);
    wait_exit(a.process.pid);
    a.process.pid = -1;
    posting.join();
    ASSERT_GE(copied, 1000) << "the read was not seen under way";
    ASSERT_LT(copied, kRows);

    EXPECT_EQ(count(b, "verein"), "3");
    EXPECT_EQ(count(b, "starter"), "0");
    // Nothing was posted whole, so nothing is loaded; the rows read so far are gone.
    EXPECT_TRUE(insert(b).starts_with("error: ")) << insert(b);
    const std::string held_rows = "SELECT count(*) FROM " + schema->name() + ".site_rows";
    EXPECT_EQ(ringolan::site::pg::exec(schema->admin(), held_rows).integer(0, 0), 3);
    // Posted again, through the other process: loaded whole.
    ASSERT_TRUE(body_of(post_file(b.port, "club1", packed)).starts_with("OK "));
    EXPECT_EQ(insert(b), "OK starter=" + std::to_string(kRows));
    EXPECT_EQ(count(b, "starter"), std::to_string(kRows));
    EXPECT_EQ(ringolan::site::pg::exec(schema->admin(), held_rows).integer(0, 0), kRows + 3);
}
