#include "db/jet/usage_map.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace ringolan::jet {

void write_usage_map(uint8_t* row, const std::vector<uint32_t>& pages,
                     const std::function<uint32_t(Page*&)>& new_bitmap_page) {
    std::fill_n(row, kMapRowSize, 0);
    if (pages.empty() || pages.back() - pages.front() < kInlineMapPages) {
        row[0] = 0x00;
        const uint32_t start = pages.empty() ? 0 : pages.front();
        put_u32(row + 1, start);
        for (uint32_t p : pages) row[5 + (p - start) / 8] |= uint8_t(1u << ((p - start) % 8));
        return;
    }
    row[0] = 0x01;
    Page* bitmaps[kReferenceSlots] = {};
    for (uint32_t p : pages) {
        const uint32_t slot = p / kBitmapPagePages;
        if (slot >= kReferenceSlots)
            throw std::runtime_error("page " + std::to_string(p) + " is beyond what a usage map can list");
        if (!bitmaps[slot]) {
            const uint32_t number = new_bitmap_page(bitmaps[slot]);
            Page& bp = *bitmaps[slot];
            bp.fill(0);
            bp[0] = kPageUsageBitmap;
            bp[1] = 0x01;
            put_u32(row + 1 + 4 * slot, number);
        }
        const uint32_t bit = p % kBitmapPagePages;
        (*bitmaps[slot])[4 + bit / 8] |= uint8_t(1u << (bit % 8));
    }
}

std::vector<uint32_t> read_usage_map(const uint8_t* row, const std::function<const Page&(uint32_t)>& page_at) {
    std::vector<uint32_t> pages;
    if (row[0] == 0x00) {
        const uint32_t start = get_u32(row + 1);
        for (uint32_t i = 0; i < (kMapRowSize - 5) * 8; ++i)
            if (row[5 + i / 8] & (1u << (i % 8))) pages.push_back(start + i);
    } else if (row[0] == 0x01) {
        for (uint32_t slot = 0; slot < kReferenceSlots; ++slot) {
            const uint32_t number = get_u32(row + 1 + 4 * slot);
            if (!number) continue;
            const Page& bp = page_at(number);
            for (uint32_t i = 0; i < kBitmapPagePages; ++i)
                if (bp[4 + i / 8] & (1u << (i % 8))) pages.push_back(slot * kBitmapPagePages + i);
        }
    } else {
        throw std::runtime_error("unknown usage map type " + std::to_string(row[0]));
    }
    return pages;
}

}  // namespace ringolan::jet
