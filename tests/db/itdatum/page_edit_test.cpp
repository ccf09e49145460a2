// Row edits on a data page whose rows are not stored in row-number order (as after earlier edits).
#include <gtest/gtest.h>

#include <numeric>

#include "db/jet/page.h"
#include "db/jet/page_edit.h"
#include "db/jet/table_def.h"

using namespace ringolan::jet;

namespace {

std::vector<uint8_t> filled(size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); }

// Rows 0..3 with their bytes placed out of order and a 16-byte gap:
//   row 2 at [4000, 4096), row 0 at [3900, 4000), gap [3884, 3900), row 3 at [3784, 3884), row 1 at [3700, 3784).
Page odd_page() {
    Page p{};
    DataPage(p).init(42);
    struct R { uint32_t start, len; uint8_t fill; uint16_t flags; };
    const R rows[] = {{3900, 100, 0xA0, 0}, {3700, 84, 0xA1, 0x4000}, {4000, 96, 0xA2, 0}, {3784, 100, 0xA3, 0}};
    for (uint32_t i = 0; i < 4; ++i) {
        std::fill_n(p.data() + rows[i].start, rows[i].len, rows[i].fill);
        put_u16(p.data() + kDataHeaderSize + 2 * i, rows[i].start | rows[i].flags);
    }
    put_u16(p.data() + 12, 4);
    put_u16(p.data() + 2, kPageSize - kDataHeaderSize - 8 - (100 + 84 + 96 + 100));
    return p;
}

std::vector<uint8_t> row_bytes(const Page& p, uint32_t row) {
    const RowSpan s = row_span(p, row);
    return std::vector<uint8_t>(p.begin() + s.start, p.begin() + s.end);
}

}  // namespace

TEST(PageEdit, RowSpansFollowTheNearestRowAbove) {
    const Page p = odd_page();
    EXPECT_EQ(row_span(p, 0).end, 4000u);
    EXPECT_EQ(row_span(p, 2).end, 4096u);
    EXPECT_EQ(row_span(p, 0).start, 3900u);
    EXPECT_EQ(row_span(p, 2).start, 4000u);
    EXPECT_EQ(row_bytes(p, 0), filled(100, 0xA0));
    // Row 3 reaches up to row 0, gap included.
    auto r3 = filled(100, 0xA3);
    r3.resize(116, 0);
    EXPECT_EQ(row_bytes(p, 3), r3);
    EXPECT_EQ(row_span(p, 1).flags, 0x4000);
    EXPECT_EQ(row_bytes(p, 1), filled(84, 0xA1));
}

TEST(PageEdit, GrowingAndShrinkingARowKeepsEveryOtherRow) {
    for (long delta : {-60L, -1L, 1L, 37L, 500L}) {
        Page p = odd_page();
        const uint32_t free_before = get_u16(p.data() + 2);
        const auto r2 = row_bytes(p, 2), r1 = row_bytes(p, 1), r3 = row_bytes(p, 3);
        const auto replacement = filled(size_t(100 + delta), 0x5B);
        ASSERT_TRUE(replace_row(p, 0, replacement)) << delta;
        EXPECT_EQ(row_bytes(p, 0), replacement) << delta;
        EXPECT_EQ(row_bytes(p, 2), r2) << delta;
        EXPECT_EQ(row_bytes(p, 1), r1) << delta;
        EXPECT_EQ(row_bytes(p, 3), r3) << delta;  // with the gap that followed it
        EXPECT_EQ(row_span(p, 1).flags, 0x4000) << "flags stay";
        EXPECT_EQ(get_u16(p.data() + 2), uint32_t(long(free_before) - delta));
        EXPECT_EQ(get_u16(p.data() + 12), 4u);
    }
}

TEST(PageEdit, NoRoomLeavesThePageAlone) {
    Page p = odd_page();
    const Page before = p;
    // Bytes between the offsets (which end at 22) and the lowest row (3700): a row may grow by 3678.
    EXPECT_FALSE(replace_row(p, 0, filled(100 + 3679, 1)));
    EXPECT_EQ(p, before);
    EXPECT_TRUE(replace_row(p, 0, filled(100 + 3678, 1)));
    EXPECT_EQ(get_u16(p.data() + 2), 3694u - 3678u);
    EXPECT_EQ(row_span(p, 1).start, uint32_t(kDataHeaderSize + 8));
}

TEST(PageEdit, AppendGoesBelowTheLowestRow) {
    Page p = odd_page();
    const auto r = filled(50, 0x77);
    ASSERT_TRUE(room_for_row(p, r.size()));
    ASSERT_TRUE(append_row(p, r));
    EXPECT_EQ(get_u16(p.data() + 12), 5u);
    EXPECT_EQ(row_span(p, 4).start, 3650u);
    EXPECT_EQ(row_bytes(p, 4), r);
    EXPECT_EQ(row_bytes(p, 1), filled(84, 0xA1));
    // A sixth row needs its offset too: the offsets end at 26, row 4 starts at 3650.
    EXPECT_FALSE(room_for_row(p, 3625));
    EXPECT_TRUE(room_for_row(p, 3624));
}
