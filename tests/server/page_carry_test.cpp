// Cached answers whose tables a new state left as they were carry over to it.
#include <gtest/gtest.h>

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

PageResult fresh(const Snap& s, std::string_view path, std::string_view query) {
    pages::PageContext ctx{s, {}};
    return RenderAddress(ctx, path, query);
}

TEST(PageCarryOver, OnlyPagesOfUnchangedTablesGoToAStateMadeFromTheHeldOne) {
    const auto mdb = test_pages::write_clubs_file("carry.mdb", {{"7", std::string("A")}}, {{1, "7"}});
    const db::ReadSet raenge{true, {"raenge"}}, none{true, {}};
    struct Case {
        const char* name;
        db::ReadSet reads;
        uint64_t base;
        Tables changed;
        bool kept;
        std::string source = "wettkampf.mdb";
    };
    const Case cases[] = {
        {"another table changed", raenge, 1, {"scheiben"}, true},
        {"its table changed, in other letter case", raenge, 1, {"scheiben", "RaEnGe"}, false},
        {"reads no table", none, 1, {"raenge", "verein"}, true},
        {"tables not known", {}, 1, {}, false},
        {"made from another state", none, 2, {}, false},
        {"base not known", none, 0, {}, false},
        {"another file", none, 1, {}, false, "anderer.mdb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageCache cache;
        cache.store(state(mdb, 1), {}, "/p", "", {"Seite", 200}, c.reads);
        const std::size_t bytes = cache.bytes();
        EXPECT_EQ(cache.find(state(mdb, 3, c.base, c.changed, c.source), {}, "/p", "") != nullptr, c.kept);
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

}  // namespace
}  // namespace ringolan::server
