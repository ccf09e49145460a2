// Live publishing end to end: a demo competition changed by the simulator while the publisher
// sends its batches to an in-process site (on each store) through a proxy that drops one reply.
// Once the simulator stops, the live account must hold what a classic upload of the final file
// loads; again after a classic upload into the live account and further changes.
#include "upload/live_publisher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "cutting_proxy.h"
#include "server/http_server.h"
#include "site/site_handler.h"
#include "test_stores.h"
#include "tools/mkdemo/demo.h"
#include "tools/mkdemo/live.h"
#include "upload/http_client.h"
#include "upload_fixture.h"
#include "upload/upload_run.h"

using namespace ringolan;
using namespace std::chrono_literals;

namespace {

const std::string kPassword = "p\xe4ss";  // Windows-1252, as the upload sends it

// Each table's rows as texts (typed values, trailing NULLs dropped, the itdatum value blanked),
// as multisets.
using Contents = std::map<std::string, std::multiset<std::string>>;

Contents contents(site::SiteStore& store, const std::string& account) {
    Contents out;
    for (const site::StoredTable& t : store.read_all(account).tables) {
        std::size_t option = t.columns.size(), value = t.columns.size();
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            if (t.columns[i] == "_option") option = i;
            if (t.columns[i] == "wert_str") value = i;
        }
        auto& rows = out[t.name];
        for (const auto& row : t.rows) {
            const bool itdatum = option < row.size() && row[option].text == "itdatum";
            std::size_t n = row.size();
            while (n > 0 && row[n - 1].kind == site::StoredValue::Kind::null) --n;
            std::string text;
            for (std::size_t i = 0; i < n; ++i) {
                const site::StoredValue& v = row[i];
                text += "|" + std::to_string(int(v.kind)) + ":";
                if (itdatum && i == value) continue;
                text += v.kind == site::StoredValue::Kind::integer ? std::to_string(v.integer)
                        : v.kind == site::StoredValue::Kind::real  ? std::to_string(v.real)
                                                                   : v.text;
            }
            rows.insert(text);
        }
    }
    return out;
}

template <class Ready>
bool wait_for(Ready ready, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// A site on the store, a proxy in front of it, a demo file and its publisher.
class LivePublish : public site_test::StoreFixture {
protected:
    void SetUp() override {
        StoreFixture::SetUp();
        if (IsSkipped()) return;
        dir = test_upload::scratch_dir() / (GetParam() == site_test::StoreKind::sqlite ? "live" : "live_pg");
        std::filesystem::create_directories(dir);
        file = dir / "demo60.mdb";
        demo::DemoOptions demo_options;
        demo_options.shooters = 60;
        demo::write_demo(demo_options, file);
        const std::string hash = site::hash_password(kPassword, 10);
        accounts = site::Accounts::parse(R"({"accounts":[{"id":"live","password":")" + hash +
                                         R"("},{"id":"klassisch","password":")" + hash + "\"}]}");
        handler = std::make_unique<site::SiteHandler>(accounts, *store);
        http = std::make_unique<server::HttpServer>(
            [this](const server::Request& q, server::Response& r) { (*handler)(q, r); });
        http->start({server::Binding{"127.0.0.1", 0}});
        site_port = http->endpoints().front().port;
        proxy = std::make_unique<test_upload::CuttingProxy>(site_port);
    }
    void TearDown() override {
        if (running.joinable()) stop_publishing();
        if (http) http->stop();
    }

    // Starts publishing to the account "live" through the proxy.
    void start_publishing() {
        upload::LiveSettings settings;
        settings.base = "http://127.0.0.1:" + std::to_string(proxy->port()) + "/";
        settings.account_id = "live";
        settings.password = kPassword;
        settings.database = file;
        settings.interval = 150ms;
        settings.max_retry_pause = 300ms;
        upload::LiveEvents events;
        events.acknowledged = [this](const upload::BatchReport& r) {
            std::lock_guard guard(mutex);
            reports.push_back(r);
        };
        publisher = std::make_unique<upload::LivePublisher>(settings, events);
        running = std::thread([this] {
            try {
                publisher->run();
            } catch (...) {
                failure = std::current_exception();
            }
        });
    }
    void stop_publishing() {
        publisher->cancel();
        running.join();
        if (failure) std::rethrow_exception(failure);
    }
    std::size_t acknowledged() {
        std::lock_guard guard(mutex);
        return reports.size();
    }
    // The scoring simulator: `changes` results at 12 a second.
    void simulate(std::uint64_t changes, std::uint64_t seed) {
        demo::LiveOptions live;
        live.file = file;
        live.per_second = 12;
        live.changes = changes;
        live.seed = seed;
        const std::atomic<bool> stop{false};
        demo::run_live(live, stop, nullptr);
    }
    void classic_upload(const std::string& account) {
        upload::HttpClient client;
        upload::UploadRun classic(client, {}, upload::itdatum_not_built);
        upload::UploadRequest request;
        request.base = "http://127.0.0.1:" + std::to_string(site_port);
        request.account_id = account;
        request.password = kPassword;
        request.work_dir = dir;
        request.database = file;
        classic.run(request, *test_upload::snapshot_of(file));
    }
    // Whether the live account comes to hold what a classic upload of the file now loads.
    bool converges() {
        classic_upload("klassisch");
        const Contents expected = contents(*store, "klassisch");
        EXPECT_EQ(expected.size(), 12u);
        return wait_for([&] { return contents(*store, "live") == expected; }, 20s);
    }

    std::filesystem::path dir, file;
    site::Accounts accounts;
    std::unique_ptr<site::SiteHandler> handler;
    std::unique_ptr<server::HttpServer> http;
    std::uint16_t site_port = 0;
    std::unique_ptr<test_upload::CuttingProxy> proxy;
    std::unique_ptr<upload::LivePublisher> publisher;
    std::thread running;
    std::exception_ptr failure;
    std::mutex mutex;
    std::vector<upload::BatchReport> reports;
};

}  // namespace

TEST_P(LivePublish, FollowsASimulatedCompetitionAcrossADroppedReplyAndAClassicUpload) {
    start_publishing();
    EXPECT_TRUE(wait_for([&] { return acknowledged() >= 1; }, 15s));

    // The second reply from now on is lost after the site applied its batch.
    proxy->cut_reply(2);
    simulate(20, 1);
    EXPECT_TRUE(converges());
    // A classic upload into the live account ends its stream: the next batch starts another.
    classic_upload("live");
    simulate(6, 2);
    EXPECT_TRUE(converges());
    stop_publishing();
    EXPECT_EQ(proxy->cuts(), 1);

    // Two streams, each with its batches acknowledged once each in order; the batch whose reply
    // was lost was sent again and found applied. (The first stream ends where the reports say: a
    // batch the site applied may be acknowledged after the test saw its rows.)
    ASSERT_FALSE(reports.empty());
    std::size_t first_stream = 0;
    while (first_stream < reports.size() && reports[first_stream].stream == reports.front().stream) ++first_stream;
    ASSERT_GE(first_stream, 3u);
    ASSERT_GT(reports.size(), first_stream);
    int repeated = 0;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const std::size_t begins = i < first_stream ? 0 : first_stream;
        EXPECT_EQ(reports[i].full, i == begins);
        EXPECT_EQ(reports[i].stream, reports[begins].stream);
        EXPECT_EQ(reports[i].sequence, std::int64_t(i - begins + 1));
        if (reports[i].duplicate) {
            ++repeated;
            EXPECT_GE(reports[i].attempts, 2);
        }
    }
    EXPECT_NE(reports.front().stream, reports.back().stream);
    EXPECT_EQ(repeated, 1);
    EXPECT_EQ(store->live_state("live").stream, reports.back().stream);
    EXPECT_EQ(store->live_state("live").sequence, reports.back().sequence);
}

SITE_STORE_KINDS(LivePublish);
