// The page service as both programs build it: the worker handler generates and keeps a page,
// the quick handler answers it from the cache's own bytes, and nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/snapshot/snapshot_build.h"
#include "server/page_service.h"
#include "tests/pages/page_fixture.h"

namespace {

using namespace ringolan::server;
namespace test_pages = ringolan::test_pages;

Request get(const std::string& path, const std::string& if_none_match = "") {
    Request request;
    request.command = "GET";
    request.document_path = path;
    if (!if_none_match.empty()) request.headers.push_back("If-None-Match: " + if_none_match);
    return request;
}

// The value of a header line in a serialized head; empty when absent.
std::string header_of(const Response& response, const std::string& name) {
    const std::string head = serialize_head(response);
    const auto at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return {};
    const auto begin = at + name.size() + 4;
    return head.substr(begin, head.find("\r\n", begin) - begin);
}

class PageServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        snapshot_ = test_pages::snapshot_of(test_pages::write_clubs_file(
            "service_clubs.mdb", {test_pages::Club{"7", "SV Tal"}}, {{1001, "7"}}));
        service_ = std::make_unique<PageService>(PageServiceConfig{
            .web_root = test_pages::test_dir() / "service_web",
            .latest = [this] { return snapshot_; },
            .start_settings = {},
            .on_page = [this](const std::shared_ptr<const std::string>& page) { shown_.push_back(page); },
            .access_log = false});
    }

    std::shared_ptr<const ringolan::db::Snapshot> snapshot_;
    std::unique_ptr<PageService> service_;
    std::vector<std::shared_ptr<const std::string>> shown_;
};

TEST_F(PageServiceTest, QuickAnswersShareTheGeneratedPage) {
    const auto quick = service_->quick_handler();
    Response missed;
    EXPECT_FALSE(quick(get("/vstbl.php"), missed));  // not generated yet
    EXPECT_FALSE(quick(get("/index.html"), missed));  // files never
    EXPECT_TRUE(shown_.empty());

    const Response generated = run_handler(get("/vstbl.php"), service_->handler());
    ASSERT_EQ(generated.status_code, 200);
    EXPECT_NE(generated.body().find("SV Tal"), std::string::npos);

    Response first, second;
    ASSERT_TRUE(quick(get("/vstbl.php"), first));
    ASSERT_TRUE(quick(get("/vstbl.php"), second));
    EXPECT_EQ(serialize(first), serialize(generated));
    // One page in memory: every answer and the memo refer to the same bytes.
    EXPECT_EQ(first.shared_content.get(), generated.shared_content.get());
    EXPECT_EQ(second.shared_content.get(), generated.shared_content.get());
    ASSERT_EQ(shown_.size(), 3u);
    EXPECT_EQ(shown_.back().get(), generated.shared_content.get());
}

TEST_F(PageServiceTest, FailuresReachTheServerAndTheNotifierOutlivesTheService) {
    snapshot_ = nullptr;  // no competition file: a page fails, the server answers 500
    const Response failed = run_handler(get("/vstbl.php"), service_->handler());
    EXPECT_EQ(failed.status_code, 500);
    EXPECT_FALSE(failed.body().empty());

    const auto notify = service_->state_notifier();
    notify();
    service_.reset();
    notify();  // the follower may still report a read after the window is gone
}

TEST_F(PageServiceTest, LiveAndApiAnswersCarryValidatorsAndClassicPagesDoNot) {
    const auto handler = service_->handler();
    const Response classic = run_handler(get("/vstbl.php"), handler);
    EXPECT_EQ(header_of(classic, "ETag"), "");
    EXPECT_EQ(header_of(classic, "Cache-Control"), "");

    struct Case {
        std::string path;
        std::string content_type;
    };
    for (const Case& c : {Case{"/api/v1/clubs", "application/json; charset=utf-8"},
                          Case{"/live/", "text/html; charset=utf-8"}}) {
        const Response first = run_handler(get(c.path), handler);
        const std::string etag = header_of(first, "ETag");
        ASSERT_TRUE(etag.size() > 2 && etag.front() == '"' && etag.back() == '"') << c.path;
        EXPECT_EQ(header_of(first, "Cache-Control"), "no-cache") << c.path;
        EXPECT_EQ(header_of(first, "Content-Type"), c.content_type) << c.path;
        EXPECT_FALSE(first.body().empty()) << c.path;

        for (const std::string& held : {etag, "\"other\", " + etag, "W/" + etag}) {
            Response quick;
            ASSERT_TRUE(service_->quick_handler()(get(c.path, held), quick)) << c.path;
            EXPECT_EQ(quick.status_code, 304) << c.path << " " << held;
            EXPECT_TRUE(quick.body().empty());
            EXPECT_EQ(serialize(quick).find("Content-Length"), std::string::npos);
        }
        EXPECT_EQ(run_handler(get(c.path, "\"other\""), handler).status_code, first.status_code) << c.path;
    }
}

TEST_F(PageServiceTest, ApiValidatorsChangeWithTheStateAndTheAddress) {
    const auto handler = service_->handler();
    const std::string clubs = header_of(run_handler(get("/api/v1/clubs"), handler), "ETag");
    EXPECT_NE(header_of(run_handler(get("/api/v1/lists"), handler), "ETag"), clubs);

    ringolan::db::SnapshotInfo info = snapshot_->info();
    info.generation = 2;
    auto next = ringolan::db::Snapshot::from_image(ringolan::db::build_snapshot_image(info.source), info);
    snapshot_ = nullptr;  // another file: served at once
    EXPECT_EQ(run_handler(get("/api/v1/clubs"), handler).status_code, 503);
    snapshot_ = next;
    const Response again = run_handler(get("/api/v1/clubs", clubs), handler);
    EXPECT_NE(again.status_code, 304);  // same data, but a new state: the client fetches it
    EXPECT_NE(header_of(again, "ETag"), clubs);
}

TEST_F(PageServiceTest, ApiFailuresAnswerJsonWithoutDatabaseText) {
    // No table "verein": the clubs' statement fails inside the database.
    snapshot_ = test_pages::snapshot_of(test_pages::write_clubs_file("service_no_clubs.mdb", {}, {{1001, "7"}}, false));
    const Response failed = run_handler(get("/api/v1/clubs"), service_->handler());
    EXPECT_EQ(failed.status_code, 500);
    EXPECT_EQ(header_of(failed, "Content-Type"), "application/json; charset=utf-8");
    const std::string body(failed.body());
    EXPECT_TRUE(body.starts_with("{\"error\":\"")) << body;
    for (const char* leak : {"verein", "SELECT", "sqlite", "no such"}) EXPECT_EQ(body.find(leak), std::string::npos) << body;
}

}  // namespace
