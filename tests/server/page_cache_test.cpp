#include "server/page_cache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "db/snapshot/snapshot_build.h"
#include "server/request_handler.h"
#include "tests/pages/page_fixture.h"

namespace ringolan::server {
namespace {

using test_pages::Club;

std::shared_ptr<const db::Snapshot> snapshot(const std::string& file, const std::string& club, uint64_t generation,
                                             const std::string& source = "wettkampf.mdb") {
    const auto mdb = test_pages::write_clubs_file(file, {Club{"7", club}}, {{1, "7"}});
    db::SnapshotInfo info;
    info.source = source;
    info.generation = generation;
    return db::Snapshot::from_image(db::build_snapshot_image(mdb), info);
}

PageResult page(const std::string& body) { return PageResult{body, 200}; }

TEST(PageCache, PagesAreKeptPerSnapshotAddressAndSettings) {
    const auto s1 = snapshot("cache1.mdb", "A", 1);
    const auto s2 = snapshot("cache2.mdb", "B", 2);
    PageCache cache;
    pages::StartSettings start;
    cache.store(s1, start, "/est.php", "ST=1", page("one"));
    EXPECT_EQ(cache.find(s1, start, "/est.php", "ST=1")->body, "one");
    EXPECT_FALSE(cache.find(s1, start, "/est.php", "ST=2"));
    EXPECT_FALSE(cache.find(s1, start, "/EST.PHP", "ST=1"));  // the frameset uses the path as typed
    pages::StartSettings other;
    other.LinkText = "anders";
    EXPECT_FALSE(cache.find(s1, other, "/est.php", "ST=1"));
    // "a\0b" splits differently than "a" + "\0b": keys cannot run into each other.
    cache.store(s1, start, "/x", std::string("a\0b", 3), page("two"));
    EXPECT_FALSE(cache.find(s1, start, std::string("/x\0a", 4), "b"));

    // A new state of the file empties the cache.
    EXPECT_FALSE(cache.find(s2, start, "/est.php", "ST=1"));
    EXPECT_EQ(cache.entries(), 0u);
    cache.store(s2, start, "/est.php", "ST=1", page("new"));
    // A request still on the old state neither sees nor pushes out the new pages.
    EXPECT_FALSE(cache.find(s1, start, "/est.php", "ST=1"));
    cache.store(s1, start, "/est.php", "ST=1", page("old"));
    EXPECT_EQ(cache.find(s2, start, "/est.php", "ST=1")->body, "new");
    // Another file (the user opened another competition) replaces the pages whatever its number.
    const auto other_file = snapshot("cache3.mdb", "C", 1, "anderer.mdb");
    EXPECT_FALSE(cache.find(other_file, start, "/est.php", "ST=1"));
    cache.store(other_file, start, "/est.php", "ST=1", page("C"));
    EXPECT_EQ(cache.find(other_file, start, "/est.php", "ST=1")->body, "C");
    EXPECT_FALSE(cache.find(nullptr, start, "/est.php", "ST=1"));
}

TEST(PageCache, BoundsEvictTheLeastRecentlyUsed) {
    const auto s = snapshot("cache4.mdb", "A", 1);
    pages::StartSettings start;
    PageCache by_count(1 << 20, 3);
    for (const char* q : {"1", "2", "3"}) by_count.store(s, start, "/p", q, page(q));
    ASSERT_TRUE(by_count.find(s, start, "/p", "1"));  // "1" is now the most recent
    by_count.store(s, start, "/p", "4", page("4"));
    EXPECT_EQ(by_count.entries(), 3u);
    EXPECT_TRUE(by_count.find(s, start, "/p", "1"));
    EXPECT_FALSE(by_count.find(s, start, "/p", "2"));
    EXPECT_TRUE(by_count.find(s, start, "/p", "4"));

    PageCache by_bytes(4000, 100);
    by_bytes.store(s, start, "/p", "big", page(std::string(1001, 'x')));  // over a quarter: not kept
    EXPECT_FALSE(by_bytes.find(s, start, "/p", "big"));
    for (int i = 0; i < 10; ++i) by_bytes.store(s, start, "/p", std::to_string(i), page(std::string(900, 'y')));
    EXPECT_LE(by_bytes.bytes(), 4000u);
    EXPECT_TRUE(by_bytes.find(s, start, "/p", "9"));
    EXPECT_FALSE(by_bytes.find(s, start, "/p", "0"));
}

// Through the request handler: cached answers equal fresh ones, also across a change of file.
// A long page is also held in a file with the same bytes, and both count against the bound.
TEST(PageCache, LongPagesCarryTheirBytesInAFile) {
    const auto s = snapshot("cache5.mdb", "A", 1);
    PageCache cache(1 << 24, 10);
    const std::string body(kBodyFileBytes, 'z');
    cache.store(s, {}, "/erl.php", "long", page(body));
    cache.store(s, {}, "/erl.php", "short", page(body.substr(1)));
    const auto kept = cache.find(s, {}, "/erl.php", "long");
    ASSERT_TRUE(kept && kept->file);
    EXPECT_FALSE(cache.find(s, {}, "/erl.php", "short")->file);
    std::string read_back(kept->file->size(), '\0');
    ASSERT_EQ(::pread(int(kept->file->handle()), read_back.data(), read_back.size(), 0), ssize_t(body.size()));
    EXPECT_EQ(read_back, body);
    EXPECT_GE(cache.bytes(), 3 * body.size() - 1);
}

TEST(PageCache, HandlerAnswersEqualFreshGeneration) {
    auto current = snapshot("cache5.mdb", "Erster Verein", 1);
    HandlerEnv cached_env, fresh_env;
    cached_env.snapshot = fresh_env.snapshot = [&] { return current; };
    cached_env.cache = std::make_shared<PageCache>();
    auto answer = [](const HandlerEnv& env, const std::string& path) {
        Request request;
        request.command = "GET";
        request.document_path = path;
        Response response;
        HandleRequest(env, request, response);
        return std::to_string(response.status_code) + std::string(response.body());
    };
    for (int round = 0; round < 2; ++round) {
        for (const char* path : {"/vstbl.php", "/rahmenvstbl.php", "/nix.php"}) {
            EXPECT_EQ(answer(cached_env, path), answer(fresh_env, path)) << path;
            EXPECT_EQ(answer(cached_env, path), answer(fresh_env, path)) << path;
        }
        EXPECT_NE(answer(cached_env, "/vstbl.php").find(round == 0 ? "Erster Verein" : "Zweiter Verein"),
                  std::string::npos);
        current = snapshot("cache6.mdb", "Zweiter Verein", 2);
    }
    EXPECT_GT(cached_env.cache->entries(), 0u);
}

// Single flight: requests that miss the same page at once share one generation.
namespace flight {

using namespace std::chrono_literals;

// Waits until pred() holds, at most 5 s; false on timeout.
template <class Pred>
bool eventually(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

constexpr int kThreads = 8;

TEST(PageCacheSingleFlight, ConcurrentMissesShareOneGeneration) {
    const auto s = snapshot("flight1.mdb", "A", 1);
    PageCache cache;
    pages::StartSettings start;
    std::atomic<int> calls{0};
    std::vector<std::string> bodies(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            bodies[i] = cache
                            .get(s, start, "/erl.php", "x=1",
                                 [&] {
                                     ++calls;
                                     // Generating until all others wait for this generation.
                                     EXPECT_TRUE(eventually([&] { return cache.waiting() == kThreads - 1; }));
                                     return page("erl");
                                 })
                            ->body;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(calls, 1);
    for (const auto& b : bodies) EXPECT_EQ(b, "erl");
    EXPECT_EQ(cache.waiting(), 0u);
    // Kept: the next request does not generate.
    EXPECT_EQ(cache.get(s, start, "/erl.php", "x=1", [&] { ++calls; return page("again"); })->body, "erl");
    EXPECT_EQ(calls, 1);
}

TEST(PageCacheSingleFlight, DifferentPagesAndStatesGenerateInParallel) {
    const auto s1 = snapshot("flight2.mdb", "A", 1);
    const auto s2 = snapshot("flight3.mdb", "B", 2);
    PageCache cache;
    pages::StartSettings start;
    // Each generation waits until all three are inside at once; one waiting for another's
    // generation would time out.
    std::atomic<int> inside{0};
    auto generate = [&](const char* body) {
        return [&, body] {
            ++inside;
            EXPECT_TRUE(eventually([&] { return inside == 3; })) << body;
            return page(body);
        };
    };
    std::string a, b, c;
    std::thread ta([&] { a = cache.get(s1, start, "/erl.php", "x=1", generate("a"))->body; });
    std::thread tb([&] { b = cache.get(s1, start, "/erl.php", "x=2", generate("b"))->body; });
    // The same address on another state is another page, not a wait for the old one.
    std::thread tc([&] { c = cache.get(s2, start, "/erl.php", "x=1", generate("c"))->body; });
    ta.join();
    tb.join();
    tc.join();
    EXPECT_EQ(a, "a");
    EXPECT_EQ(b, "b");
    EXPECT_EQ(c, "c");
    EXPECT_EQ(cache.waiting(), 0u);
}

TEST(PageCacheSingleFlight, AFailureReachesAllWaitersAndIsNotKept) {
    const auto s = snapshot("flight4.mdb", "A", 1);
    PageCache cache;
    pages::StartSettings start;
    std::atomic<int> calls{0};
    std::vector<std::string> errors(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            try {
                cache.get(s, start, "/mmerl.php", "v=1", [&]() -> PageResult {
                    const int n = ++calls;
                    EXPECT_TRUE(eventually([&] { return cache.waiting() == kThreads - 1; }));
                    throw std::runtime_error("Abfrage " + std::to_string(n) + " fehlgeschlagen");
                });
            } catch (const std::runtime_error& e) {
                errors[i] = e.what();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(calls, 1);
    for (const auto& e : errors) EXPECT_EQ(e, "Abfrage 1 fehlgeschlagen");
    EXPECT_EQ(cache.entries(), 0u);
    // The next request generates again.
    EXPECT_EQ(cache.get(s, start, "/mmerl.php", "v=1", [&] { ++calls; return page("ok"); })->body, "ok");
    EXPECT_EQ(calls, 2);
}

TEST(PageCacheSingleFlight, WaitIsBounded) {
    const auto s = snapshot("flight5.mdb", "A", 1);
    PageCache cache(1 << 20, 100, 50ms);
    pages::StartSettings start;
    std::atomic<bool> started{false}, release{false};
    std::thread slow([&] {
        cache.get(s, start, "/merl.php", "", [&] {
            started = true;
            EXPECT_TRUE(eventually([&] { return release.load(); }));
            return page("slow");
        });
    });
    EXPECT_TRUE(eventually([&] { return started.load(); }));
    const auto begun = std::chrono::steady_clock::now();
    int calls = 0;
    const auto body = cache.get(s, start, "/merl.php", "", [&] { ++calls; return page("own"); })->body;
    const auto took = std::chrono::steady_clock::now() - begun;
    release = true;
    slow.join();
    EXPECT_EQ(body, "own");
    EXPECT_EQ(calls, 1);
    EXPECT_GE(took, 50ms);
    EXPECT_LT(took, 2s);
}

}  // namespace flight
}  // namespace
}  // namespace ringolan::server
