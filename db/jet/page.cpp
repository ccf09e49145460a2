#include "db/jet/page.h"

namespace ringolan::jet {

void DataPage::init(uint32_t owner) {
    std::memset(p_, 0, kPageSize);
    p_[0] = kPageData;
    p_[1] = 0x01;
    put_u16(p_ + kDataFreeSpace, kPageSize - kDataHeaderSize);
    put_u32(p_ + kDataOwner, owner);
}

bool DataPage::fits(size_t length) const {
    return row_count() < kMaxRowsPerPage && length + 2 <= free_space();
}

uint32_t DataPage::add_row(std::span<const uint8_t> row) {
    const uint32_t n = row_count();
    const uint32_t start = row_end(n) - uint32_t(row.size());
    std::memcpy(p_ + start, row.data(), row.size());
    put_u16(p_ + kDataHeaderSize + 2 * n, start);
    put_u16(p_ + kDataRowCount, n + 1);
    put_u16(p_ + kDataFreeSpace, free_space() - uint32_t(row.size()) - 2);
    return n;
}

}  // namespace ringolan::jet
