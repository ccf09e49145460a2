// The page service as both programs build it: the worker handler generates and keeps a page,
// the quick handler answers it from the cache's own bytes, and nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/page_service.h"
#include "tests/pages/page_fixture.h"

namespace {

using namespace ringolan::server;
namespace test_pages = ringolan::test_pages;

Request get(const std::string& path) {
    Request request;
    request.command = "GET";
    request.document_path = path;
    return request;
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

}  // namespace
