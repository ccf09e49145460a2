#include "db/jet/page_edit.h"

#include <algorithm>
#include <cstring>

#include "db/jet/table_def.h"

namespace ringolan::jet {
namespace {

uint32_t lowest_start(const Page& page) {
    const uint32_t rows = get_u16(page.data() + kDataRowCount);
    uint32_t low = kPageSize;
    for (uint32_t i = 0; i < rows; ++i)
        low = std::min<uint32_t>(low, get_u16(page.data() + kDataHeaderSize + 2 * i) & kRowStartMask);
    return low;
}

}  // namespace

bool room_for_row(const Page& page, size_t length) {
    if (page[0] != kPageData || !rows_in_order(page)) return false;
    const uint32_t rows = get_u16(page.data() + kDataRowCount);
    if (rows >= kMaxRowsPerPage || length > kMaxRowSize) return false;
    const uint32_t low = lowest_start(page);
    const uint32_t header_end = kDataHeaderSize + 2 * (rows + 1);
    return low >= header_end && low - header_end >= length && get_u16(page.data() + kDataFreeSpace) >= length + 2;
}

bool append_row(Page& page, std::span<const uint8_t> row) {
    if (!room_for_row(page, row.size())) return false;
    const uint32_t rows = get_u16(page.data() + kDataRowCount);
    const uint32_t start = lowest_start(page) - uint32_t(row.size());
    std::memcpy(page.data() + start, row.data(), row.size());
    put_u16(page.data() + kDataHeaderSize + 2 * rows, start);
    put_u16(page.data() + kDataRowCount, rows + 1);
    put_u16(page.data() + kDataFreeSpace, get_u16(page.data() + kDataFreeSpace) - uint32_t(row.size()) - 2);
    return true;
}

bool replace_row(Page& page, uint32_t row, std::span<const uint8_t> bytes) {
    if (bytes.size() > kMaxRowSize || !rows_in_order(page)) return false;
    const RowSpan target = row_span(page, row);
    const uint32_t rows = get_u16(page.data() + kDataRowCount);
    const long delta = long(bytes.size()) - long(target.end - target.start);
    if (delta == 0) {
        std::copy(bytes.begin(), bytes.end(), page.data() + target.start);
        return true;
    }
    uint32_t low = target.start;
    for (uint32_t i = 0; i < rows; ++i) {
        if (i == row) continue;
        const uint32_t s = get_u16(page.data() + kDataHeaderSize + 2 * i) & kRowStartMask;
        if (s == target.start) return false;  // two entries share the bytes
        low = std::min(low, s);
    }
    const long free = long(get_u16(page.data() + kDataFreeSpace));
    const long header_end = long(kDataHeaderSize + 2 * rows);
    if (long(low) - delta < header_end || free - delta < 0) return false;
    std::memmove(page.data() + long(low) - delta, page.data() + low, target.start - low);
    for (uint32_t i = 0; i < rows; ++i) {
        uint8_t* e = page.data() + kDataHeaderSize + 2 * i;
        const uint32_t entry = get_u16(e);
        const uint32_t s = entry & kRowStartMask;
        if (i == row) put_u16(e, uint32_t(long(target.end) - long(bytes.size())) | (entry & ~kRowStartMask));
        else if (s < target.start) put_u16(e, uint32_t(long(s) - delta) | (entry & ~kRowStartMask));
    }
    std::copy(bytes.begin(), bytes.end(), page.data() + target.end - bytes.size());
    put_u16(page.data() + kDataFreeSpace, uint32_t(free - delta));
    if (delta < 0) std::memset(page.data() + low, 0, size_t(-delta));
    return true;
}

}  // namespace ringolan::jet
