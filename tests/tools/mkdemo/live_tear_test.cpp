// A change cut short after its first page write: the invariant finds the shooter, both readers
// still read the file, and the next run puts it right.
#include <gtest/gtest.h>

#include "tests/tools/mkdemo/live_fixture.h"
#include "tools/mkdemo/live_sim.h"

namespace live_test {
namespace {

struct Cut {};

TEST(LiveTear, ChangeCutAfterItsFirstPageIsFoundAndPutRightByTheNextRun) {
    const fs::path f = scratch() / "torn.mdb";
    size_t found = 0;
    for (const int before : {3, 60, 111, 250}) {
        copy_demo(f);
        {
            bool armed = false;
            ringolan::demo::Simulator sim(f, 5, [&] {
                if (armed) throw Cut{};
            });
            for (int i = 0; i < before; ++i) ASSERT_TRUE(sim.step());
            armed = true;
            EXPECT_THROW(sim.step(), Cut);
        }
        const auto torn = torn_shooters(f);
        EXPECT_LE(torn.size(), 1u) << "after " << before << " changes: " << ::testing::PrintToString(torn);
        found += torn.size();
        EXPECT_NO_THROW(ringolan::readback::canon_from_mdbreader(f)) << "after " << before << " changes";

        ringolan::demo::Simulator next(f, 5);
        next.repair();
        EXPECT_TRUE(torn.empty() || next.counts().repaired > 0) << "after " << before << " changes";
        EXPECT_TRUE(torn_shooters(f).empty()) << "after " << before << " changes";
    }
    EXPECT_GE(found, 2u);
}

}  // namespace
}  // namespace live_test
