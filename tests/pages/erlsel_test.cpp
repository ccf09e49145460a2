// erlsel.php: team and single competitions ordered by title as the engine sorts text, the
// selekt and mannschaft filters, empty lists and the headings' byte 228.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/sqlite.h"
#include "db/snapshot/snapshot_build.h"
#include "db/sql/jet_functions.h"
#include "server/dispatcher.h"
#include "tests/pages/competition_fixture.h"
#include "tests/pages/page_fixture.h"
#include "tests/server/page_literals.h"

namespace {

using namespace ringolan::test_pages;
using ringolan::server::DispatchPage;
using V = ringolan::jet::Value;

const V kNullSel = ringolan::jet::Null{};
const std::string kTeamHeading = "<Font size=\"5\"> Mannschaftsk\xE4mpfe:</font><br>";
const std::string kSingleHeading = "<br><hr><Font size=\"5\">Einzelk\xE4mpfe:</font><br>";

std::string link(const std::string& page, const std::string& id, const std::string& title) {
    return "<a href=\"" + page + "?startnr=0&titel=" + id + "&Rang=0\">" + title + "</a><br>\r";
}

std::string fragment(const std::shared_ptr<const ringolan::db::Snapshot>& snapshot, const std::string& query = "") {
    ringolan::pages::PageContext ctx;
    ctx.snapshot = snapshot;
    const auto r = DispatchPage(ctx, "/erlsel.php", query);
    EXPECT_EQ(r.status, 200);
    if (!r.body.starts_with(kHead) || !r.body.ends_with(kFoot)) {
        ADD_FAILURE() << "not framed";
        return {};
    }
    return r.body.substr(kHead.size(), r.body.size() - kHead.size() - kFoot.size());
}

// The snapshot of `mdb` after `sql` ran on it: for values a Jet file cannot hold.
std::shared_ptr<const ringolan::db::Snapshot> patched_snapshot(const std::filesystem::path& mdb, const char* sql) {
    const std::vector<uint8_t> image = ringolan::db::build_snapshot_image(mdb);
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    const ringolan::sqlite::DbHandle owner(db);
    auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(image.size()));
    std::memcpy(copy, image.data(), image.size());
    EXPECT_EQ(sqlite3_deserialize(db, "main", copy, sqlite3_int64(image.size()), sqlite3_int64(image.size()),
                                  SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE),
              SQLITE_OK);
    ringolan::db::register_jet_functions(db);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_int64 size = 0;
    unsigned char* out = sqlite3_serialize(db, "main", &size, 0);
    std::vector<uint8_t> patched(out, out + size);
    sqlite3_free(out);
    ringolan::db::SnapshotInfo info;
    info.source = mdb;
    info.generation = 1;
    return ringolan::db::Snapshot::from_image(std::move(patched), info);
}

void add_mixed_lists(CompetitionFile& f) {
    f.list(1, std::string("Zeta Team"), true, kNullSel);
    f.list(2, std::string("Alpha Team"), true, int64_t{2});
    f.list(3, std::string("beta team"), true, int64_t{0});
    f.list(4, std::string("Hidden Team"), true, int64_t{1});
    f.list(10, std::string("Einzel <b>LG</b>"), false, kNullSel);
    f.list(11, std::string("Auflage"), false, int64_t{0});
    f.list(12, std::string("Versteckt"), false, int64_t{1});
    f.list(14, std::string("K\u00f6nigsscheibe"), false, int64_t{-1});
    f.list(20, std::string("Ohne Art"), false, kNullSel);
}

const std::string kTeams = link("merl.php", "2", "Alpha Team") + link("merl.php", "3", "beta team") +
                           link("merl.php", "1", "Zeta Team");

TEST(ErlselPage, ListsTeamThenSingleCompetitionsByTitleWithoutHiddenOnes) {
    CompetitionFile f;
    add_mixed_lists(f);
    // Titles without regard to letter case ("beta" between "Alpha" and "Zeta"); markup copied.
    EXPECT_EQ(fragment(f.snapshot("erlsel.mdb")),
              kTeamHeading + kTeams + kSingleHeading + link("erl.php", "11", "Auflage") +
                  link("erl.php", "10", "Einzel <b>LG</b>") + link("erl.php", "14", "K\xF6nigsscheibe") +
                  link("erl.php", "20", "Ohne Art"));
}

TEST(ErlselPage, AListWithoutKindIsInNeitherList) {
    CompetitionFile f;
    add_mixed_lists(f);
    f.snapshot("erlsel_null.mdb");
    const auto snapshot =
        patched_snapshot(test_dir() / "erlsel_null.mdb", "UPDATE wettb_def SET mannschaft = NULL WHERE ID = 20");
    EXPECT_EQ(fragment(snapshot), kTeamHeading + kTeams + kSingleHeading + link("erl.php", "11", "Auflage") +
                                      link("erl.php", "10", "Einzel <b>LG</b>") +
                                      link("erl.php", "14", "K\xF6nigsscheibe"));
}

TEST(ErlselPage, EmptyListsLeaveTheHeadingsAlone) {
    CompetitionFile singles;
    singles.list(7, std::string("Nur Einzel"), false, kNullSel);
    EXPECT_EQ(fragment(singles.snapshot("erlsel_singles.mdb")),
              kTeamHeading + kSingleHeading + link("erl.php", "7", "Nur Einzel"));

    CompetitionFile teams;
    teams.list(8, std::string("Nur Team"), true, kNullSel);
    teams.list(9, std::string("Auch versteckt"), false, int64_t{1});
    EXPECT_EQ(fragment(teams.snapshot("erlsel_teams.mdb")), kTeamHeading + link("merl.php", "8", "Nur Team") + kSingleHeading);

    CompetitionFile none;
    EXPECT_EQ(fragment(none.snapshot("erlsel_none.mdb")), kTeamHeading + kSingleHeading);
}

TEST(ErlselPage, TakesNoParametersAndAnswersInFrames) {
    CompetitionFile f;
    add_mixed_lists(f);
    const auto snapshot = f.snapshot("erlsel_frames.mdb");
    const std::string plain = fragment(snapshot);
    EXPECT_EQ(fragment(snapshot, "titel=<script>&startnr=1\"&"), plain);
    ringolan::pages::PageContext ctx;
    ctx.snapshot = snapshot;
    EXPECT_EQ(DispatchPage(ctx, "/ERLSEL.PHP", "").body, kHead + plain + kFoot);
    // The frame source of the frameset is answered by this page.
    EXPECT_EQ(DispatchPage(ctx, "/rahmenerlsel.php", "").body, frameset("nerlsel.php?"));
    EXPECT_EQ(DispatchPage(ctx, "/nerlsel.php", "").body, kHead + plain + kFoot);
}

}  // namespace
