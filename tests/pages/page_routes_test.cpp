// The product's generator table: its entries follow the order of the ten path tests, with the
// right framing, and pages without a generator answer as not found.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "server/dispatcher.h"
#include "server/page_routes.h"
#include "tests/server/page_literals.h"

namespace {

struct Expected {
    std::string needle;
    bool framed;
};

const std::vector<Expected> kTests = {
    {"start.php", false}, {"vstbl.php", true}, {"vst.php", true},   {"est.php", true},   {"ofls.php", true},
    {"sb.php", true},     {"/erl.php", true},  {"/merl.php", true}, {"mmerl.php", true}, {"erlsel.php", true},
};

TEST(PageRoutes, EntriesFollowTheTestOrderWithTheirFraming) {
    size_t next = 0;
    for (const auto& route : ringolan::server::page_routes()) {
        while (next < kTests.size() && kTests[next].needle != route.needle) ++next;
        ASSERT_LT(next, kTests.size()) << route.needle << " is unknown or out of order";
        EXPECT_EQ(route.framed, kTests[next].framed) << route.needle;
        EXPECT_TRUE(bool(route.generate)) << route.needle;
        ++next;
    }
}

TEST(PageRoutes, ClubListIsServedAndPagesWithoutGeneratorAreNotFound) {
    bool has_vstbl = false;
    std::vector<std::string> present;
    for (const auto& route : ringolan::server::page_routes()) present.emplace_back(route.needle);
    for (const auto& n : present) has_vstbl |= n == "vstbl.php";
    EXPECT_TRUE(has_vstbl);

    ringolan::pages::PageContext ctx;  // no snapshot: nothing may read one here
    const std::vector<std::pair<std::string, std::string>> pages = {
        {"start.php", "/start.php"}, {"vst.php", "/vst.php"},     {"est.php", "/est.php"},
        {"ofls.php", "/ofls.php"},   {"sb.php", "/sb.php"},       {"/erl.php", "/erl.php"},
        {"/merl.php", "/merl.php"},  {"mmerl.php", "/mmerl.php"}, {"erlsel.php", "/erlsel.php"},
    };
    for (const auto& [needle, path] : pages) {
        if (std::find(present.begin(), present.end(), needle) != present.end()) continue;
        const auto r = ringolan::server::DispatchPage(ctx, path, "NR=1");
        EXPECT_EQ(r.status, 404) << path;
        EXPECT_EQ(r.body, ringolan::test_pages::kNotFound) << path;
    }
    EXPECT_EQ(ringolan::server::DispatchPage(ctx, "/foo.php", "").status, 404);
}

}  // namespace
