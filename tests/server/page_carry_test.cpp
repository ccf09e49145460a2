// Cached answers whose tables a new state left as they were carry over to it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/query/query.h"
#include "db/snapshot/read_recorder.h"
#include "db/snapshot/snapshot_build.h"
#include "server/live_routes.h"
#include "server/page_cache.h"
#include "tests/pages/competition_fixture.h"
#include "tests/pages/page_fixture.h"

namespace ringolan::server {
namespace {

using Snap = std::shared_ptr<const db::Snapshot>;
using Tables = std::vector<std::string>;

Snap state(const std::filesystem::path& mdb, uint64_t generation, uint64_t base = 0, Tables changed = {},
           const std::string& source = "wettkampf.mdb", std::vector<db::TableKeys> keys = {}) {
    db::SnapshotInfo info;
    info.source = source;
    info.generation = generation;
    info.base_generation = base;
    info.changed_tables = std::move(changed);
    info.changed_keys = std::move(keys);
    return db::Snapshot::from_image(db::build_snapshot_image(mdb), info);
}

PageResult fresh(const Snap& s, std::string_view path, std::string_view query) {
    pages::PageContext ctx{s, {}};
    return RenderAddress(ctx, path, query);
}

TEST(PageCarryOver, OnlyPagesOfUnchangedTablesGoToAStateMadeFromTheHeldOne) {
    const auto mdb = test_pages::write_clubs_file("carry.mdb", {{"7", std::string("A")}}, {{1, "7"}});
    const db::ReadSet raenge{true, {"raenge"}}, none{true, {}};
    // Ranks of list 12 only, and the clubs whole.
    const db::ReadSet list12{true, {"verein"}, {{"raenge", "erglistid", 12}}};
    const std::vector<db::TableKeys> lists_3_13{{"RAENGE", "ErglistID", {3, 13}}},
        lists_12{{"raenge", "ErglistID", {12}}}, other_column{{"raenge", "Startnr", {3}}};
    struct Case {
        const char* name;
        db::ReadSet reads;
        uint64_t base;
        Tables changed;
        bool kept;
        std::string source = "wettkampf.mdb";
        std::vector<db::TableKeys> keys = {};
    };
    const Case cases[] = {
        {"another table changed", raenge, 1, {"scheiben"}, true},
        {"its table changed, in other letter case", raenge, 1, {"scheiben", "RaEnGe"}, false},
        {"reads no table", none, 1, {"raenge", "verein"}, true},
        {"tables not known", {}, 1, {}, false},
        {"made from another state", none, 2, {}, false},
        {"base not known", none, 0, {}, false},
        {"another file", none, 1, {}, false, "anderer.mdb"},
        {"its keys unchanged", list12, 1, {"raenge"}, true, "wettkampf.mdb", lists_3_13},
        {"its key changed", list12, 1, {"raenge"}, false, "wettkampf.mdb", lists_12},
        {"keys of the table not told", list12, 1, {"raenge"}, false},
        {"keys of another column told", list12, 1, {"raenge"}, false, "wettkampf.mdb", other_column},
        {"a table it reads whole changed", list12, 1, {"raenge", "verein"}, false, "wettkampf.mdb", lists_3_13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageCache cache;
        cache.store(state(mdb, 1), {}, "/p", "", {"Seite", 200}, c.reads);
        const std::size_t bytes = cache.bytes();
        EXPECT_EQ(cache.find(state(mdb, 3, c.base, c.changed, c.source, c.keys), {}, "/p", "") != nullptr, c.kept);
        EXPECT_EQ(cache.bytes(), c.kept ? bytes : 0u);
        EXPECT_EQ(cache.carried(), c.kept ? 1u : 0u);
    }
    // Carried pages keep their order of use and half their hits, as warmed ones do.
    PageCache cache(1 << 20, 3);
    const auto s1 = state(mdb, 1), s2 = state(mdb, 2, 1, {"raenge"});
    for (const char* q : {"a", "b", "c"}) cache.store(s1, {}, "/p", q, {q, 200}, none);
    for (int i = 0; i < 4; ++i) cache.find(s1, {}, "/p", "a");  // "b" is the least recently used
    cache.store(s2, {}, "/p", "d", {"d", 200}, none);
    EXPECT_FALSE(cache.find(s2, {}, "/p", "b"));
    ASSERT_EQ(cache.hottest(1).size(), 1u);
    EXPECT_EQ(cache.hottest(1)[0].address.query, "a");
    EXPECT_EQ(cache.hottest(1)[0].hits, 5u / 2);
}

// Lists 12 (single) and 13 (team); one shooter ranked in list 12 with this result.
Snap competition(const std::string& file, double result, uint64_t generation, uint64_t base, Tables changed) {
    test_pages::CompetitionFile f;
    f.club("7", std::string("SV Tell"));
    f.shooter(345, std::string("Müller"), std::string("Anna"), "7");
    f.list(12, std::string("Luftgewehr"), std::string("ring"));
    f.list(13, std::string("Mannschaft"), true, jet::Null{});
    f.rank(12, 345, 1, result, std::string("R"), {result, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0});
    f.snapshot(file);
    return state(test_pages::test_dir() / file, generation, base, std::move(changed));
}

TEST(PageCarryOver, CarriedAnswersEqualFreshGenerationFromTheNewState) {
    const auto s1 = competition("carry1.mdb", 380.0, 1, 0, {});
    const auto s2 = competition("carry2.mdb", 390.5, 2, 1, {"RAENGE"});
    struct Case { const char* path; const char* query; bool carried; };
    const Case cases[] = {
        {"/start.php", "", true}, {"/rahmenerl.php", "titel=12", true}, {"/erlsel.php", "", true},
        {"/vstbl.php", "", true}, {"/erl.php", "titel=12&", false},     {"/api/v1/clubs", "", false},
    };
    PageCache cache;
    for (const auto& c : cases) cache.get(s1, {}, c.path, c.query, [&] { return fresh(s1, c.path, c.query); });
    // A failed statement may have named a table that was not there: such an answer is not carried.
    cache.get(s1, {}, "/x.php", "", [&] {
        db::Query q;
        q.set_command("SELECT * FROM fehlt");
        EXPECT_THROW(q.open(*s1), db::QueryError);
        return PageResult{"trotzdem", 200};
    });
    for (const auto& c : cases) {
        const auto carried = cache.find(s2, {}, c.path, c.query);
        ASSERT_EQ(carried != nullptr, c.carried) << c.path;
        if (carried) {
            EXPECT_EQ(carried->body, fresh(s2, c.path, c.query).body) << c.path;
        }
    }
    EXPECT_FALSE(cache.find(s2, {}, "/x.php", ""));
    // The changed table shows where it is read.
    EXPECT_NE(fresh(s1, "/erl.php", "titel=12&").body, fresh(s2, "/erl.php", "titel=12&").body);
}

TEST(PageCarryOver, ListPagesReadTheirRanksByKey) {
    struct Case {
        const char* path;
        const char* query;
        db::ReadSet want;
    };
    const Case cases[] = {
        {"/erl.php", "titel=12&", {true, {"starter", "verein", "wettb_def"}, {{"raenge", "erglistid", 12}}}},
        {"/merl.php", "titel=13&",
         {true,
          {"mann_teiln", "starter", "wettb_def", "wettb_opt_def"},
          {{"mannschaft", "wettb_id", 13}, {"raenge", "erglistid", 13}}}},
    };
    const auto s1 = competition("keyed.mdb", 380.0, 1, 0, {});
    for (const auto& c : cases) {
        db::ReadRecorder recorder;
        fresh(s1, c.path, c.query);
        const db::ReadSet got = recorder.result();
        EXPECT_TRUE(got.known) << c.path;
        EXPECT_EQ(got.tables, c.want.tables) << c.path;
        EXPECT_EQ(got.keyed, c.want.keyed) << c.path;
    }
    // A statement reading the table outside a keyed scope makes the read whole.
    db::ReadRecorder recorder;
    {
        const db::ReadRecorder::KeyedScope scope("raenge", "ErglistID", 12);
        db::Query q;
        q.set_command("SELECT Rang FROM raenge WHERE ErglistID = ?");
        q.open(*s1, {int64_t(12)});
    }
    db::Query q;
    q.set_command("SELECT count(*) FROM raenge");
    q.open(*s1);
    EXPECT_EQ(recorder.result().tables, Tables{"raenge"});
    EXPECT_TRUE(recorder.result().keyed.empty());
}

// Ranks of list 12 change; the list page of list 14 carries over and equals a fresh one.
TEST(PageCarryOver, AListPageCarriesOverWhenOnlyAnotherListsRanksChanged) {
    auto file = [](const std::string& name, double result) {
        test_pages::CompetitionFile f;
        f.club("7", std::string("SV Tell"));
        f.shooter(345, std::string("Müller"), std::string("Anna"), "7");
        f.shooter(346, std::string("Meier"), std::string("Eva"), "7");
        f.list(12, std::string("Luftgewehr"), std::string("ring"));
        f.list(14, std::string("Luftpistole"), std::string("ring"));
        f.rank(12, 345, 1, result, std::string("R"), {result, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0});
        f.rank(14, 346, 1, 371.0, std::string("R"), {371.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0});
        f.snapshot(name);
        return test_pages::test_dir() / name;
    };
    const auto s1 = state(file("lists1.mdb", 380.0), 1);
    const auto s2 =
        state(file("lists2.mdb", 390.5), 2, 1, {"raenge"}, "wettkampf.mdb", {{"raenge", "ErglistID", {12}}});
    PageCache cache;
    for (const char* q : {"titel=12&", "titel=14&"})
        cache.get(s1, {}, "/erl.php", q, [&] { return fresh(s1, "/erl.php", q); });
    EXPECT_FALSE(cache.find(s2, {}, "/erl.php", "titel=12&"));
    const auto carried = cache.find(s2, {}, "/erl.php", "titel=14&");
    ASSERT_TRUE(carried);
    EXPECT_EQ(carried->body, fresh(s2, "/erl.php", "titel=14&").body);
    EXPECT_NE(fresh(s1, "/erl.php", "titel=12&").body, fresh(s2, "/erl.php", "titel=12&").body);
}

}  // namespace
}  // namespace ringolan::server
