// Cached answers whose tables a new state left as they were carry over to it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/query/query.h"
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
           const std::string& source = "wettkampf.mdb") {
    db::SnapshotInfo info;
    info.source = source;
    info.generation = generation;
    info.base_generation = base;
    info.changed_tables = std::move(changed);
    return db::Snapshot::from_image(db::build_snapshot_image(mdb), info);
}

const std::filesystem::path& clubs_file() {
    static const auto file = test_pages::write_clubs_file("carry.mdb", {{"7", std::string("A")}}, {{1, "7"}});
    return file;
}

// Lists 12 (single) and 13 (team) with one ranked shooter whose result is `result`.
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

PageResult fresh(const Snap& s, std::string_view path, std::string_view query) {
    pages::PageContext ctx;
    ctx.snapshot = s;
    return RenderAddress(ctx, path, query);
}

db::ReadSet reads(Tables tables) { return {true, std::move(tables)}; }

TEST(PageCarryOver, OnlyPagesOfUnchangedTablesAreKept) {
    struct Case {
        const char* name;
        db::ReadSet reads;
        Tables changed;
        bool kept;
    };
    const Case cases[] = {
        {"another table changed", reads({"raenge"}), {"scheiben"}, true},
        {"one of its tables changed", reads({"raenge", "starter"}), {"scheiben", "starter"}, false},
        {"letter case", reads({"raenge"}), {"RaEnGe"}, false},
        {"reads no table", reads({}), {"raenge", "verein"}, true},
        {"nothing changed", reads({"raenge"}), {}, true},
        {"tables not known", db::ReadSet{}, {"scheiben"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageCache cache;
        cache.store(state(clubs_file(), 1), {}, "/erl.php", "titel=1", {"Liste", 200}, c.reads);
        const std::size_t bytes = cache.bytes();
        const auto found = cache.find(state(clubs_file(), 2, 1, c.changed), {}, "/erl.php", "titel=1");
        EXPECT_EQ(found != nullptr, c.kept);
        EXPECT_EQ(cache.bytes(), c.kept ? bytes : 0u);
        EXPECT_EQ(cache.carried(), c.kept ? 1u : 0u);
    }
}

TEST(PageCarryOver, OnlyAStateMadeFromTheHeldOneTakesPages) {
    struct Case {
        const char* name;
        uint64_t base;
        std::string source;
        bool kept;
    };
    const Case cases[] = {
        {"made from the held state", 1, "wettkampf.mdb", true},
        {"base not known", 0, "wettkampf.mdb", false},
        {"made from another state", 2, "wettkampf.mdb", false},
        {"another file", 1, "anderer.mdb", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageCache cache;
        const auto held = state(clubs_file(), 1);
        cache.store(held, {}, "/start.php", "", {"Start", 200}, reads({}));
        EXPECT_EQ(cache.find(state(clubs_file(), 3, c.base, {}, c.source), {}, "/start.php", "") != nullptr, c.kept);
    }
}

TEST(PageCarryOver, CarriedPagesKeepTheirOrderOfUseAndHalfTheirHits) {
    PageCache cache(1 << 20, 3);
    const auto s1 = state(clubs_file(), 1);
    for (const char* q : {"a", "b", "c"}) cache.store(s1, {}, "/p", q, {q, 200}, reads({}));
    for (int i = 0; i < 4; ++i) cache.find(s1, {}, "/p", "a");  // "b" is now the least recently used
    const auto s2 = state(clubs_file(), 2, 1, {"raenge"});
    cache.store(s2, {}, "/p", "d", {"d", 200}, reads({}));
    EXPECT_FALSE(cache.find(s2, {}, "/p", "b"));
    for (const char* q : {"a", "c", "d"}) EXPECT_TRUE(cache.find(s2, {}, "/p", q)) << q;
    const auto hottest = cache.hottest(1);
    ASSERT_EQ(hottest.size(), 1u);
    EXPECT_EQ(hottest[0].address.query, "a");
    EXPECT_EQ(hottest[0].hits, 5u / 2 + 1);  // halved on carrying, then found once more
}

TEST(PageCarryOver, AnswersKnowTheTablesTheyRead) {
    const auto s = competition("carry_reads.mdb", 380.0, 1, 0, {});
    PageCache cache;
    const auto failing = [&] {
        db::Query q;
        q.set_command("SELECT * FROM fehlt");
        EXPECT_THROW(q.open(*s), db::QueryError);
        return PageResult{"trotzdem", 200};
    };
    EXPECT_FALSE(cache.get(s, {}, "/failing.php", "", failing)->reads.known);
    struct Case {
        const char* path;
        const char* query;
        db::ReadSet reads;
    };
    const Case cases[] = {
        {"/start.php", "", reads({})},
        {"/rahmenerl.php", "titel=12", reads({})},
        {"/nix.php", "", reads({})},
        {"/erlsel.php", "", reads({"wettb_def"})},
        {"/vstbl.php", "", reads({"starter", "verein"})},
        {"/api/v1/clubs", "", db::ReadSet{}},
    };
    for (const auto& c : cases) {
        const auto page = cache.get(s, {}, c.path, c.query, [&] { return fresh(s, c.path, c.query); });
        EXPECT_EQ(page->reads.known, c.reads.known) << c.path;
        EXPECT_EQ(page->reads.tables, c.reads.tables) << c.path;
    }
}

TEST(PageCarryOver, CarriedAnswersEqualFreshGenerationFromTheNewState) {
    const auto s1 = competition("carry1.mdb", 380.0, 1, 0, {});
    const auto s2 = competition("carry2.mdb", 390.5, 2, 1, {"RAENGE"});
    struct Case {
        const char* path;
        const char* query;
        bool carried;
    };
    const Case cases[] = {
        {"/start.php", "", true},   {"/rahmenerl.php", "titel=12", true}, {"/erlsel.php", "", true},
        {"/vstbl.php", "", true},   {"/erl.php", "titel=12&", false},      {"/api/v1/clubs", "", false},
    };
    PageCache cache;
    std::vector<PageCache::SharedPage> before;
    for (const auto& c : cases)
        before.push_back(cache.get(s1, {}, c.path, c.query, [&] { return fresh(s1, c.path, c.query); }));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto held = cache.find(s2, {}, c.path, c.query);
        ASSERT_EQ(held != nullptr, c.carried) << c.path;
        if (!held) continue;
        EXPECT_EQ(held, before[i]) << c.path;
        EXPECT_EQ(held->body, fresh(s2, c.path, c.query).body) << c.path;
    }
    // The changed table shows where it is read.
    EXPECT_NE(fresh(s1, "/erl.php", "titel=12&").body, fresh(s2, "/erl.php", "titel=12&").body);
}

}  // namespace
}  // namespace ringolan::server
