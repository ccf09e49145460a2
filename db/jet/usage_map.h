// Usage maps: the rows that tell readers which pages belong to a table or a memo column.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "db/jet/page.h"

namespace ringolan::jet {

inline constexpr uint32_t kInlineMapPages = 512;                  // pages an inline map covers
inline constexpr uint32_t kBitmapPagePages = (kPageSize - kBitmapPageBitmap) * 8;  // pages one bitmap page covers
inline constexpr uint32_t kReferenceSlots = 17;

// Fills a 69-byte map row for the given (ascending) pages. An inline map is used when all pages
// lie within 512 pages of the first; otherwise a reference map whose bitmap pages are obtained
// from new_bitmap_page (which returns a fresh page number and its zeroed page).
void write_usage_map(uint8_t* row, const std::vector<uint32_t>& pages,
                     const std::function<uint32_t(Page*&)>& new_bitmap_page);

}  // namespace ringolan::jet
