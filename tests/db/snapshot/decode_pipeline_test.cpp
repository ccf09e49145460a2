// The decoding thread of a whole read: its batches carry exactly the rows the page reader gives,
// table after table, and leaving it early does not hang.
#include <gtest/gtest.h>

#include <vector>

#include "db/snapshot/decode_pipeline.h"
#include "snapshot_test_util.h"
#include "tools/mkdemo/demo.h"

namespace ringolan::db {
namespace {

struct Decoded {
    size_t table;
    int64_t position;
    jet::Row row;
    bool operator==(const Decoded&) const = default;
};

TEST(DecodePipeline, HandsOverEveryRowInTableAndScanOrder) {
    test::TempDir dir;
    demo::DemoOptions opt;
    opt.shooters = 120;
    demo::write_demo(opt, dir / "demo.mdb");
    std::vector<Decoded> want, got;
    {
        mdbread::PageReader reader(dir / "demo.mdb");
        for (size_t t = 0; t < reader.tables().size(); ++t)
            for (uint32_t page : reader.tables()[t].data_pages)
                reader.decode_page(t, page, [&](uint32_t r, const jet::Row& row) {
                    want.push_back({t, mdbread::row_position(page, r), row});
                });
    }
    mdbread::PageReader reader(dir / "demo.mdb");
    DecodePipeline pipeline(reader);
    size_t ends = 0;
    while (DecodePipeline::Batch* batch = pipeline.next()) {
        ASSERT_EQ(batch->table, ends);
        if (batch->end_of_table) {
            EXPECT_TRUE(batch->positions.empty());
            ++ends;
        }
        const size_t columns = reader.tables()[batch->table].columns.size();
        ASSERT_EQ(batch->values.size(), batch->positions.size() * columns);
        for (size_t r = 0; r < batch->positions.size(); ++r)
            got.push_back({batch->table, batch->positions[r],
                           jet::Row(batch->values.begin() + r * columns, batch->values.begin() + (r + 1) * columns)});
        pipeline.recycle(batch);
    }
    EXPECT_EQ(ends, reader.tables().size());
    ASSERT_GT(want.size(), 1000u);
    EXPECT_TRUE(got == want);
}

TEST(DecodePipeline, StopsWhenLeftEarly) {
    test::TempDir dir;
    demo::DemoOptions opt;
    opt.shooters = 300;
    demo::write_demo(opt, dir / "demo.mdb");
    mdbread::PageReader reader(dir / "demo.mdb");
    DecodePipeline pipeline(reader);
    ASSERT_NE(pipeline.next(), nullptr);  // not recycled: the thread waits for a free batch
}

}  // namespace
}  // namespace ringolan::db
