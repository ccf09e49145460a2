// Taking over a new state of the competition file after warming the page cache from it.
#include "server/served_snapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/snapshot/snapshot_build.h"
#include "server/page_routes.h"
#include "server/request_handler.h"
#include "tests/pages/page_fixture.h"

namespace ringolan::server {
namespace {

using namespace std::chrono_literals;
using Snap = std::shared_ptr<const db::Snapshot>;

Snap make_state(const std::string& file, const std::string& club, uint64_t generation,
              const std::string& source = "wettkampf.mdb", uint64_t base = 0, std::vector<std::string> changed = {}) {
    const auto mdb = test_pages::write_clubs_file(file, {test_pages::Club{"7", club}}, {{1, "7"}});
    db::SnapshotInfo info;
    info.source = source;
    info.generation = generation;
    info.base_generation = base;
    info.changed_tables = std::move(changed);
    return db::Snapshot::from_image(db::build_snapshot_image(mdb), info);
}

template <class Pred>
bool eventually(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The data module's side: the newest snapshot, changed by the test.
struct Latest {
    std::mutex mutex;
    Snap snap;
    void set(Snap s) {
        std::lock_guard lock(mutex);
        snap = std::move(s);
    }
    ServedSnapshot::Source source() {
        return [this] {
            std::lock_guard lock(mutex);
            return snap;
        };
    }
};

// A page naming the state it was made from; optionally blocked until released.
struct FakePages {
    std::atomic<bool> blocked{false};
    std::atomic<int> rendered{0};
    std::chrono::milliseconds each{0};
    ServedSnapshot::Render render() {
        return [this](const Snap& s, const PageAddress& a) {
            while (blocked) std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(each);
            ++rendered;
            return PageResult{body(s, a), 200};
        };
    }
    static std::string body(const Snap& s, const PageAddress& a) {
        return "state " + std::to_string(s->info().generation) + " " + a.path + "?" + a.query;
    }
};

std::string answer(const HandlerEnv& env, const std::string& path, const std::string& query = "") {
    Request request;
    request.command = "GET";
    request.document_path = path;
    request.query = query;
    Response response;
    HandleRequest(env, request, response);
    return std::to_string(response.status_code) + std::string(response.body());
}

TEST(ServedSnapshot, WarmedPagesEqualFreshGenerationFromTheNewState) {
    const auto s1 = make_state("warm1.mdb", "Erster Verein", 1);
    const auto s2 = make_state("warm2.mdb", "Zweiter Verein", 2);
    Latest latest;
    latest.set(s1);
    auto cache = std::make_shared<PageCache>();
    ServedSnapshot served(latest.source(), cache);
    HandlerEnv env, fresh;
    env.cache = cache;
    env.snapshot = [&] { return served.current(); };
    const std::vector<std::string> paths = {"/vstbl.php", "/rahmenvstbl.php", "/start.php", "/nix.php"};
    for (const auto& p : paths) answer(env, p);
    ASSERT_EQ(cache->entries(), paths.size());

    latest.set(s2);
    served.poke();
    ASSERT_TRUE(eventually([&] { return served.stats().warmed_states == 1; }));
    EXPECT_EQ(served.current(), s2);
    EXPECT_EQ(served.stats().warmed_pages, paths.size());
    EXPECT_EQ(served.stats().held_out, 0u);
    fresh.snapshot = [&] { return s2; };
    pages::StartSettings start;
    for (const auto& p : paths) {
        const auto warmed = cache->find(s2, start, p, "");
        ASSERT_TRUE(warmed) << p;
        pages::PageContext ctx;
        ctx.snapshot = s2;
        const PageResult expected = DispatchPage(ctx, p, "");
        EXPECT_EQ(warmed->body, expected.body) << p;
        EXPECT_EQ(warmed->status, expected.status) << p;
        EXPECT_EQ(answer(env, p), answer(fresh, p)) << p;
    }
    EXPECT_NE(answer(env, "/vstbl.php").find("Zweiter Verein"), std::string::npos);
}

TEST(ServedSnapshot, OldStateIsServedWhileWarmingAndNeverStoredUnderTheNew) {
    const auto s1 = make_state("warm3.mdb", "A", 1);
    const auto s2 = make_state("warm4.mdb", "B", 2);
    const auto s3 = make_state("warm5.mdb", "C", 3);
    Latest latest;
    latest.set(s1);
    auto cache = std::make_shared<PageCache>();
    FakePages pages;
    ServedSnapshot::Options options;
    options.render = pages.render();
    options.hold = 10s;
    ServedSnapshot served(latest.source(), cache, options);
    pages::StartSettings start;
    ASSERT_EQ(served.current(), s1);
    for (const char* q : {"1", "2", "3"}) cache->store(s1, start, "/est.php", q, {FakePages::body(s1, {"/est.php", q, {}}), 200});

    pages.blocked = true;
    latest.set(s2);
    EXPECT_EQ(served.current(), s1);  // still warming: the old state, with its cached pages
    EXPECT_TRUE(eventually([&] { return served.current() == s1 && cache->find(s1, start, "/est.php", "2"); }));
    // A still newer state arrives while the warming of s2 is under way.
    latest.set(s3);
    EXPECT_EQ(served.current(), s1);
    pages.blocked = false;
    ASSERT_TRUE(eventually([&] { return served.current() == s3; }));
    for (const auto& hot : cache->hottest(10)) {
        const auto got = cache->find(s3, start, hot.address.path, hot.address.query);
        ASSERT_TRUE(got) << hot.address.query;
        EXPECT_EQ(got->body, FakePages::body(s3, hot.address));
    }
    EXPECT_EQ(cache->entries(), 3u);
    EXPECT_EQ(served.stats().held_out, 0u);
}

// Serving s1 on fake pages, with ten cached pages of which "9" is the most requested, "0" the least.
struct Rig {
    Latest latest;
    std::shared_ptr<PageCache> cache = std::make_shared<PageCache>();
    FakePages pages;
    std::unique_ptr<ServedSnapshot> served;  // destroyed first: its thread uses the members above
    Rig(const Snap& s1, ServedSnapshot::Options options, std::chrono::milliseconds each = 0ms) {
        latest.set(s1);
        pages.each = each;
        options.render = pages.render();
        served = std::make_unique<ServedSnapshot>(latest.source(), cache, options);
        served->current();
        for (int i = 0; i < 10; ++i) {
            const std::string q = std::to_string(i);
            cache->store(s1, {}, "/sb.php", q, {"p" + q, 200});
            for (int hit = 0; hit < i; ++hit) cache->find(s1, {}, "/sb.php", q);
        }
    }
    void change_to(const Snap& s) {
        latest.set(s);
        served->poke();
    }
};

TEST(ServedSnapshot, BoundsOnPagesTimeAndHold) {
    const auto s1 = make_state("warm6.mdb", "A", 1);
    const auto s2 = make_state("warm7.mdb", "B", 2);
    const auto s3 = make_state("warm8.mdb", "C", 3);
    {  // by count: the three most requested pages
        ServedSnapshot::Options options;
        options.max_pages = 3;
        Rig rig(s1, options);
        rig.change_to(s2);
        ASSERT_TRUE(eventually([&] { return rig.served->stats().warmed_states == 1; }));
        EXPECT_EQ(rig.pages.rendered, 3);
        EXPECT_EQ(rig.cache->entries(), 3u);
        for (const char* q : {"9", "8", "7"}) EXPECT_TRUE(rig.cache->find(s2, {}, "/sb.php", q)) << q;
    }
    {  // by time: 40 ms a page, 100 ms to start pages
        ServedSnapshot::Options options;
        options.max_time = 100ms;
        Rig rig(s1, options, 40ms);
        rig.change_to(s2);
        ASSERT_TRUE(eventually([&] { return rig.served->stats().warmed_states == 1; }));
        EXPECT_GE(rig.pages.rendered, 1);
        EXPECT_LE(rig.pages.rendered, 3);
        EXPECT_TRUE(rig.cache->find(s2, {}, "/sb.php", "9"));  // the hottest first
    }
    {  // by hold: warming stuck, the new state is served anyway
        ServedSnapshot::Options options;
        options.hold = 100ms;
        Rig rig(s1, options);
        rig.pages.blocked = true;
        const auto begun = std::chrono::steady_clock::now();
        rig.change_to(s2);
        EXPECT_EQ(rig.served->current(), s1);
        EXPECT_TRUE(eventually([&] { return rig.served->current() == s2; }));
        EXPECT_GE(std::chrono::steady_clock::now() - begun, 100ms);
        EXPECT_EQ(rig.served->stats().held_out, 1u);
        EXPECT_EQ(rig.served->stats().warmed_states, 0u);
        rig.pages.blocked = false;
        // The late warming lands under the state it was made from, not under a newer one.
        rig.change_to(s3);
        ASSERT_TRUE(eventually([&] { return rig.served->current() == s3; }));
        for (const auto& hot : rig.cache->hottest(20))
            EXPECT_EQ(rig.cache->find(s3, {}, hot.address.path, hot.address.query)->body, FakePages::body(s3, hot.address));
    }
}

TEST(ServedSnapshot, WarmingMakesOnlyThePagesThatDoNotCarryOver) {
    const auto s1 = make_state("warm12.mdb", "A", 1);
    const auto s2 = make_state("warm13.mdb", "A", 2, "wettkampf.mdb", 1, {"raenge"});
    Latest latest;
    latest.set(s1);
    auto cache = std::make_shared<PageCache>();
    FakePages pages;
    ServedSnapshot::Options options;
    options.render = pages.render();
    ServedSnapshot served(latest.source(), cache, options);
    served.current();
    const std::vector<std::string> queries = {"1", "2", "3", "4"};  // odd ones read raenge
    for (const auto& q : queries)
        cache->store(s1, {}, "/sb.php", q, {"alt", 200}, {true, {q[0] % 2 ? "raenge" : "verein"}});
    latest.set(s2);
    served.poke();
    ASSERT_TRUE(eventually([&] { return served.stats().warmed_states == 1; }));
    EXPECT_EQ(pages.rendered, 2);
    EXPECT_EQ(served.stats().warmed_pages, 2u);
    EXPECT_EQ(served.stats().carried_pages, 2u);
    for (const auto& q : queries)
        EXPECT_EQ(cache->find(s2, {}, "/sb.php", q)->body, q[0] % 2 ? FakePages::body(s2, {"/sb.php", q, {}}) : "alt");

    // The file opened again numbers its states anew: its state 3 was not made from s2.
    latest.set(make_state("warm14.mdb", "B", 1));
    served.current();
    const auto reopened3 = make_state("warm15.mdb", "B", 3, "wettkampf.mdb", 2, {"raenge"});
    latest.set(reopened3);
    served.poke();
    ASSERT_TRUE(eventually([&] { return served.stats().warmed_states == 2; }));
    EXPECT_FALSE(cache->find(reopened3, {}, "/sb.php", "2"));
    EXPECT_EQ(served.stats().carried_pages, 2u);
}

TEST(ServedSnapshot, AnotherFileOrNoneIsTakenAtOnce) {
    const auto s1 = make_state("warm9.mdb", "A", 5);
    const auto other = make_state("warm10.mdb", "B", 9, "anderer.mdb");
    const auto reopened = make_state("warm11.mdb", "C", 1);  // the same file opened again counts from 1
    Latest latest;
    latest.set(s1);
    auto cache = std::make_shared<PageCache>();
    FakePages pages;
    pages.blocked = true;  // a warming would never end
    ServedSnapshot::Options options;
    options.render = pages.render();
    options.hold = 10s;
    ServedSnapshot served(latest.source(), cache, options);
    EXPECT_EQ(served.current(), s1);
    latest.set(other);
    EXPECT_EQ(served.current(), other);
    latest.set(nullptr);
    EXPECT_EQ(served.current(), nullptr);
    latest.set(s1);
    EXPECT_EQ(served.current(), s1);
    latest.set(reopened);
    EXPECT_EQ(served.current(), reopened);
    pages.blocked = false;
}

}  // namespace
}  // namespace ringolan::server
