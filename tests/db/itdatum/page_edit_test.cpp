// Row edits on existing data pages: other rows keep their bytes, numbers and flags.
#include <gtest/gtest.h>

#include "db/jet/page.h"
#include "db/jet/page_edit.h"
#include "db/jet/table_def.h"

using namespace ringolan::jet;

namespace {

std::vector<uint8_t> filled(size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); }

struct R {
    uint32_t start, len;
    uint8_t fill;
    uint16_t flags;
};

Page make_page(std::initializer_list<R> rows) {
    Page p{};
    DataPage(p).init(42);
    uint32_t i = 0, used = 0;
    for (const R& r : rows) {
        std::fill_n(p.data() + r.start, r.len, r.fill);
        put_u16(p.data() + kDataHeaderSize + 2 * i++, r.start | r.flags);
        used += r.len + 2;
    }
    put_u16(p.data() + 12, i);
    put_u16(p.data() + 2, kPageSize - kDataHeaderSize - used);
    return p;
}

// Rows 0..3 from the page end down; row 1 carries a flag.
Page ordered_page() {
    return make_page({{4000, 96, 0xA0, 0}, {3900, 100, 0xA1, 0x4000}, {3784, 116, 0xA2, 0}, {3700, 84, 0xA3, 0}});
}

std::vector<uint8_t> row_bytes(const Page& p, uint32_t row) {
    const RowSpan s = row_span(p, row);
    return std::vector<uint8_t>(p.begin() + s.start, p.begin() + s.end);
}

}  // namespace

TEST(PageEdit, GrowingAndShrinkingARowKeepsEveryOtherRow) {
    for (long delta : {-116L, -60L, -1L, 1L, 37L, 500L}) {
        Page p = ordered_page();
        const uint32_t free_before = get_u16(p.data() + 2);
        const auto r0 = row_bytes(p, 0), r1 = row_bytes(p, 1), r3 = row_bytes(p, 3);
        const auto replacement = filled(size_t(116 + delta), 0x5B);
        ASSERT_TRUE(replace_row(p, 2, replacement)) << delta;
        EXPECT_TRUE(rows_in_order(p));
        EXPECT_EQ(row_bytes(p, 2), replacement) << delta;
        EXPECT_EQ(row_bytes(p, 0), r0) << delta;
        EXPECT_EQ(row_bytes(p, 1), r1) << delta;
        EXPECT_EQ(row_bytes(p, 3), r3) << delta;
        EXPECT_EQ(row_span(p, 1).flags, 0x4000) << "flags stay";
        EXPECT_EQ(row_span(p, 3).start, uint32_t(3700 - delta));
        EXPECT_EQ(get_u16(p.data() + 2), uint32_t(long(free_before) - delta));
        EXPECT_EQ(get_u16(p.data() + 12), 4u);
    }
}

TEST(PageEdit, NoRoomOrRowsOutOfOrderLeaveThePageAlone) {
    Page p = ordered_page();
    const Page before = p;
    // Offsets end at 22, the lowest row starts at 3700: a row may grow by 3678 bytes.
    EXPECT_FALSE(replace_row(p, 0, filled(96 + 3679, 1)));
    EXPECT_EQ(p, before);
    EXPECT_TRUE(replace_row(p, 0, filled(96 + 3678, 1)));
    EXPECT_EQ(row_span(p, 3).start, 22u);
    EXPECT_EQ(get_u16(p.data() + 2), 0u + (kPageSize - kDataHeaderSize - 8 - 396 - 3678));

    // Row 1 stored above row 0: readers would take row 1's end from row 0's start.
    Page odd = make_page({{3900, 100, 0xB0, 0}, {4000, 96, 0xB1, 0}});
    const Page odd_before = odd;
    EXPECT_FALSE(rows_in_order(odd));
    EXPECT_THROW(row_span(odd, 1), LayoutError);
    EXPECT_FALSE(replace_row(odd, 0, filled(90, 1)));
    EXPECT_FALSE(append_row(odd, filled(10, 1)));
    EXPECT_EQ(odd, odd_before);
}

TEST(PageEdit, AppendGoesBelowTheLowestRow) {
    Page p = ordered_page();
    const auto r = filled(50, 0x77);
    ASSERT_TRUE(append_row(p, r));
    EXPECT_EQ(get_u16(p.data() + 12), 5u);
    EXPECT_EQ(row_span(p, 4).start, 3650u);
    EXPECT_EQ(row_bytes(p, 4), r);
    EXPECT_EQ(row_bytes(p, 3), filled(84, 0xA3));
    // A sixth row needs its offset too: the offsets would end at 26, row 4 starts at 3650.
    EXPECT_FALSE(room_for_row(p, 3625));
    EXPECT_TRUE(room_for_row(p, 3624));
}
