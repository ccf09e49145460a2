// ringolan-mkdemo --live on a demo of 300 shooters: what 300 changes leave in the file, read
// back with libmdb, mdb-reader and the API; the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <set>

#include "tests/support/process.h"
#include "tests/tools/mkdemo/live_fixture.h"

namespace live_test {
namespace {

using ringolan::readback::file_bytes;
using ringolan::readback::Outcome;

Outcome run(const std::string& args) { return ringolan::readback::run_program(MKDEMO_BINARY, args, scratch()); }

class LiveRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* name : {"a.mdb", "b.mdb", "other.mdb"}) copy_demo(scratch() / name);
        const std::string changes = " --changes 300 --seed 7";
        out_ = new Outcome(run("--live " + (scratch() / "a.mdb").string() + changes));
        run("--live " + (scratch() / "b.mdb").string() + changes);
        run("--live " + (scratch() / "other.mdb").string() + " --changes 300 --seed 8");
        before_ = new std::map<std::string, Table>(read_tables(demo_file()));
        after_ = new std::map<std::string, Table>(read_tables(scratch() / "a.mdb"));
    }
    static const Table& before(const std::string& t) { return before_->at(t); }
    static const Table& after(const std::string& t) { return after_->at(t); }
    static Outcome* out_;
    static std::map<std::string, Table>* before_;
    static std::map<std::string, Table>* after_;
};
Outcome* LiveRun::out_ = nullptr;
std::map<std::string, Table>* LiveRun::before_ = nullptr;
std::map<std::string, Table>* LiveRun::after_ = nullptr;

TEST_F(LiveRun, SameSeedGivesTheSameFile) {
    ASSERT_EQ(out_->code, 0) << out_->err;
    EXPECT_NE(out_->out.find("300 changes"), std::string::npos) << out_->out;
    const std::string a = file_bytes(scratch() / "a.mdb");
    EXPECT_TRUE(a == file_bytes(scratch() / "b.mdb"));
    EXPECT_FALSE(a == file_bytes(scratch() / "other.mdb"));
    EXPECT_FALSE(a == file_bytes(demo_file()));
}

TEST_F(LiveRun, BothReadersReadTheSameTables) {
    const fs::path file = scratch() / "a.mdb";
    ringolan::readback::expect_same_tables(ringolan::readback::canon_from_libmdb(file),
                                           ringolan::readback::canon_from_mdbreader(file), "mdb-reader");
}

TEST_F(LiveRun, OnlyNewCardsAndTheirAssignmentsAreAdded) {
    for (const auto& [name, table] : *before_)
        if (name != "scheiben" && name != "zuordnung") {
            EXPECT_EQ(after(name).size(), table.size()) << name;
        }
    const size_t added = after("scheiben").size() - before("scheiben").size();
    EXPECT_GT(added, 0u);
    EXPECT_EQ(after("zuordnung").size() - before("zuordnung").size(), added);

    std::set<std::string> old_ids, assigned;
    for (size_t i = 0; i < before("scheiben").size(); ++i) old_ids.insert(before("scheiben").cell(i, "Sch_id"));
    for (size_t i = 0; i < after("zuordnung").size(); ++i) assigned.insert(after("zuordnung").cell(i, "Scheiben_id"));
    size_t new_cards = 0;
    for (size_t i = 0; i < after("scheiben").size(); ++i) {
        const std::string id = after("scheiben").cell(i, "Sch_id");
        if (old_ids.count(id)) continue;
        ++new_cards;
        EXPECT_TRUE(assigned.count(id)) << "card " << id << " is not assigned to a result";
        EXPECT_GT(after("scheiben").number(i, "t1"), 0) << "card " << id << " has no shot";
    }
    EXPECT_EQ(new_cards, added);
}

// Counts the rows whose cells in `columns` differ, rows matched by the `key` columns.
size_t changed_rows(const Table& a, const Table& b, const std::vector<std::string>& key, const std::vector<std::string>& columns) {
    auto text = [](const Table& t, size_t i, const std::vector<std::string>& cols) {
        std::string s;
        for (const auto& c : cols) s += t.cell(i, c) + "|";
        return s;
    };
    std::map<std::string, std::string> old;
    for (size_t i = 0; i < a.size(); ++i) old[text(a, i, key)] = text(a, i, columns);
    size_t n = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        const auto it = old.find(text(b, i, key));
        n += it != old.end() && it->second != text(b, i, columns);
    }
    return n;
}

TEST_F(LiveRun, CardsRanksAndTeamsChange) {
    std::vector<std::string> shots{"summe"};
    for (int i = 1; i <= 15; ++i) shots.push_back("t" + std::to_string(i));
    EXPECT_GE(changed_rows(before("scheiben"), after("scheiben"), {"Sch_id"}, shots), 60u);
    EXPECT_GE(changed_rows(before("raenge"), after("raenge"), {"ErglistID", "Startnr"}, {"HauptErg", "E1"}), 60u);
    EXPECT_GE(changed_rows(before("raenge"), after("raenge"), {"ErglistID", "Startnr"}, {"Rang"}), 1u);
    EXPECT_GE(changed_rows(before("mannschaft"), after("mannschaft"), {"Mann_id"}, {"MErgebnis", "MTeilErg"}), 1u);
}

TEST_F(LiveRun, EveryShootersResultsFollowHisTargetsBeforeAndAfter) {
    for (const fs::path& file : {demo_file(), scratch() / "a.mdb"}) {
        size_t asked = 0;
        const auto torn = torn_shooters(file, &asked);
        EXPECT_EQ(asked, 300u);
        EXPECT_TRUE(torn.empty()) << file << ": " << torn.size() << " torn, first " << torn.front();
    }
}

// A better result has the better rank: Teiler lists (unit T) the lower E1, the others the higher.
TEST_F(LiveRun, RanksFollowTheResults) {
    const Table& r = after("raenge");
    std::map<std::string, std::vector<size_t>> lists;
    for (size_t i = 0; i < r.size(); ++i) lists[r.cell(i, "ErglistID")].push_back(i);
    for (auto& [list, rows] : lists) {
        const bool teiler = r.cell(rows.front(), "Einheit") == "\"T\"";
        auto better = [&](size_t a, size_t b) { return teiler ? r.number(a, "E1") < r.number(b, "E1") : r.number(a, "E1") > r.number(b, "E1"); };
        std::sort(rows.begin(), rows.end(), better);
        double worst_rank_above = 0;
        for (size_t k = 0, group = 0; k < rows.size(); ++k) {
            if (k > 0 && better(rows[k - 1], rows[k]))
                for (; group < k; ++group) worst_rank_above = std::max(worst_rank_above, r.number(rows[group], "Rang"));
            EXPECT_GT(r.number(rows[k], "Rang"), worst_rank_above) << "list " << list << ", Startnr " << r.cell(rows[k], "Startnr");
        }
    }
}

// MErgebnis is the sum of the best three members' results in the team's list.
TEST_F(LiveRun, TeamResultsFollowTheMembers) {
    const Table &teams = after("mannschaft"), &members = after("mann_teiln"), &ranks = after("raenge");
    std::map<std::string, std::set<std::string>> of_team;
    for (size_t i = 0; i < members.size(); ++i) of_team[members.cell(i, "Mann_id")].insert(members.cell(i, "Startnr"));
    std::map<std::string, std::vector<size_t>> of_list;
    for (size_t i = 0; i < ranks.size(); ++i) of_list[ranks.cell(i, "ErglistID")].push_back(i);
    for (size_t t = 0; t < teams.size(); ++t) {
        std::vector<double> results;
        for (size_t i : of_list[teams.cell(t, "Wettb_id")])
            if (of_team[teams.cell(t, "Mann_id")].count(ranks.cell(i, "Startnr"))) results.push_back(ranks.number(i, "E1"));
        std::sort(results.rbegin(), results.rend());
        double best3 = 0;
        for (size_t k = 0; k < results.size() && k < 3; ++k) best3 += results[k];
        EXPECT_NEAR(teams.number(t, "MErgebnis"), best3, 0.05) << "team " << teams.cell(t, "Mann_id");
    }
}

TEST(LiveCli, UsageErrorsExitWithCodeTwo) {
    const std::string f = (scratch() / "usage.mdb").string();
    const std::vector<std::pair<std::string, std::string>> cases{
        {"--live", "needs a value"},
        {"--live " + f + " -o x.mdb", "do not go with it"},
        {"--live " + f + " --shooters 10", "do not go with it"},
        {"--live " + f + " --changes-per-second 0.4", "between 0.5 and 1000"},
        {"--live " + f + " --changes-per-second 1001", "between 0.5 and 1000"},
        {"--live " + f + " --changes-per-second fast", "needs a number"},
        {"--live " + f + " --changes-per-second 1e3", "needs a number"},
        {"--live " + f + " --seconds 5", "needs --changes-per-second"},
        {"--live " + f + " --changes-per-second 5 --seconds 0", "above 0"},
        {"--live " + f + " --changes -3", "whole number"},
        {"--changes 5 -o " + f, "go with --live only"},
    };
    for (const auto& [args, reason] : cases) {
        const Outcome r = run(args);
        EXPECT_EQ(r.code, 2) << args;
        EXPECT_NE(r.err.find(reason), std::string::npos) << args << ": " << r.err;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
    EXPECT_FALSE(fs::exists(f));
}

TEST(LiveCli, FileThatCannotBeUsedExitsWithOne) {
    const fs::path text = scratch() / "text.mdb";
    { std::ofstream(text) << std::string(3 * 4096, 'x'); }
    for (const fs::path& f : {scratch() / "missing.mdb", text}) {
        const Outcome r = run("--live " + f.string() + " --changes 5");
        EXPECT_EQ(r.code, 1) << f;
        EXPECT_NE(r.err.find(f.filename().string()), std::string::npos) << r.err;
    }
}

TEST(LiveCli, PacedRunTakesItsTimeAndPrintsProgress) {
    const fs::path f = scratch() / "paced.mdb";
    copy_demo(f);
    const auto start = std::chrono::steady_clock::now();
    const Outcome r = run("--live " + f.string() + " --changes-per-second 40 --seconds 2");
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(": 80 changes"), std::string::npos) << r.out;
    EXPECT_GE(took, 1.9);
    EXPECT_NE(r.out.find(": 1 s, "), std::string::npos) << "a progress line each second: " << r.out;
}

TEST(LiveCli, TermSignalStopsBetweenChanges) {
    const fs::path f = scratch() / "signal.mdb";
    copy_demo(f);
    const Outcome r = ringolan::readback::run_program("timeout", "--preserve-status -s TERM 1.5 " MKDEMO_BINARY " --live " +
                                                          f.string() + " --changes-per-second 100", scratch());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("stopped by a signal"), std::string::npos) << r.out;
    EXPECT_TRUE(torn_shooters(f).empty());
}

}  // namespace
}  // namespace live_test
