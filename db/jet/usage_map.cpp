#include "db/jet/usage_map.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "common/error.h"

namespace ringolan::jet {

void write_usage_map(uint8_t* row, const std::vector<uint32_t>& pages,
                     const std::function<uint32_t(Page*&)>& new_bitmap_page) {
    std::fill_n(row, kMapRowSize, 0);
    if (pages.empty() || pages.back() - pages.front() < kInlineMapPages) {
        row[0] = kMapInline;
        const uint32_t start = pages.empty() ? 0 : pages.front();
        put_u32(row + 1, start);
        for (uint32_t p : pages) row[kInlineMapBitmap + (p - start) / 8] |= uint8_t(1u << ((p - start) % 8));
        return;
    }
    row[0] = kMapReference;
    Page* bitmaps[kReferenceSlots] = {};
    for (uint32_t p : pages) {
        const uint32_t slot = p / kBitmapPagePages;
        if (slot >= kReferenceSlots)
            throw Error("page " + std::to_string(p) + " is beyond what a usage map can list");
        if (!bitmaps[slot]) {
            const uint32_t number = new_bitmap_page(bitmaps[slot]);
            Page& bp = *bitmaps[slot];
            bp.fill(0);
            bp[0] = kPageUsageBitmap;
            bp[1] = 0x01;
            put_u32(row + 1 + 4 * slot, number);
        }
        const uint32_t bit = p % kBitmapPagePages;
        (*bitmaps[slot])[kBitmapPageBitmap + bit / 8] |= uint8_t(1u << (bit % 8));
    }
}

}  // namespace ringolan::jet
