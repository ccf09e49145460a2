// Pages carried over by key through a simulated competition: after every state the reader
// child hands over, each page the cache gives (carried, or made from rows carried with the
// state) equals a fresh generation from a snapshot of that state of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "db/snapshot/reader_service.h"
#include "server/live_routes.h"
#include "server/page_cache.h"
#include "tests/db/snapshot/snapshot_test_util.h"
#include "tools/mkdemo/demo.h"
#include "tools/mkdemo/live.h"

namespace ringolan::server {
namespace {

using namespace std::chrono_literals;
using Snap = std::shared_ptr<const db::Snapshot>;
namespace fs = std::filesystem;

PageResult fresh(const Snap& s, const std::string& path, const std::string& query) {
    pages::PageContext ctx{s, {}};
    return RenderAddress(ctx, path, query);
}

struct Address {
    std::string path, query;
};

// Every shooter, target, list and team list page of the demo, as its own pages link them.
std::vector<Address> addresses(const Snap& s) {
    std::vector<Address> out;
    const auto c = s->connect();
    for (const auto& r : db::test::rows(c.get(), "SELECT Startnr FROM starter"))
        out.push_back({"/est.php", "ST=" + r[0]});
    for (const auto& r : db::test::rows(c.get(), "SELECT ergebnis.Startnr, ergebnis.DP_Id, zuordnung.Scheiben_id FROM "
                                                 "ergebnis, zuordnung WHERE zuordnung.Erg_id = ergebnis.Erg_id "
                                                 "ORDER BY zuordnung.Scheiben_id"))
        out.push_back({"/sb.php", "ST=" + r[0] + "&sb=LG1&bz=" + r[1] + "&sid=" + r[2]});
    for (const auto& r : db::test::rows(c.get(), "SELECT ID, mannschaft FROM wettb_def"))
        out.push_back({r[1] == "0" ? "/erl.php" : "/merl.php", "startnr=0&titel=" + r[0] + "&"});
    return out;
}

TEST(KeyedCarryOver, CarriedPagesEqualFreshOnesThroughASimulatedCompetition) {
    db::test::TempDir dir;
    const fs::path file = dir / "demo.mdb";
    demo::DemoOptions opt;
    opt.shooters = 60;
    demo::write_demo(opt, file);
    fs::create_directories(dir / "reader");
    db::ReaderService service(dir / "reader");
    uint64_t generation = 0;
    Snap pristine;  // the same state, with nothing carried into it
    auto next_state = [&]() -> Snap {
        const db::ReaderService::Answer a = service.read(file, 30s);
        EXPECT_EQ(a.kind, db::ReaderService::Answer::Kind::image) << a.error;
        if (a.kind != db::ReaderService::Answer::Kind::image) return nullptr;
        db::SnapshotInfo info = db::test::answered_state(a, ++generation);
        info.source = file;
        service.acknowledge(a.state);
        pristine = db::Snapshot::from_mapping(a.image, info);
        return db::Snapshot::from_mapping(a.image, info);
    };
    Snap state = next_state();
    ASSERT_TRUE(state);
    const std::vector<Address> pages = addresses(state);
    ASSERT_GT(pages.size(), 200u);
    PageCache cache(1 << 30, 100000);
    uint64_t carried = 0, made_again = 0;
    for (uint64_t change = 1; change <= 20 && !::testing::Test::HasFailure(); ++change) {
        for (const Address& a : pages) {
            auto page = cache.find(state, {}, a.path, a.query);
            if (page) ++carried;
            else {
                ++made_again;
                page = cache.get(state, {}, a.path, a.query, [&] { return fresh(state, a.path, a.query); });
            }
            EXPECT_EQ(page->body, fresh(pristine, a.path, a.query).body)
                << a.path << "?" << a.query << ", change " << change;
        }
        std::atomic<bool> stop{false};
        demo::LiveOptions live;
        live.file = file;
        live.seed = change;
        live.changes = 1 + change % 3;
        demo::run_live(live, stop, nullptr);
        const Snap previous = state;  // alive, as a request still working on it would keep it
        state = next_state();
        ASSERT_TRUE(state);
        cache.find(state, {}, "/start.php", "");  // the cache takes the new state while the old one lives
    }
    // Most pages carried over, and some did not: the changes reached pages.
    EXPECT_GT(carried, made_again * 2) << carried << " carried, " << made_again << " made again";
    EXPECT_GT(made_again, pages.size() + 20);
}

}  // namespace
}  // namespace ringolan::server
