// Jet 4 page constants and little-endian access to page bytes.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

namespace ringolan::jet {

inline constexpr uint32_t kPageSize = 4096;
inline constexpr uint32_t kDataHeaderSize = 14;      // up to the first row offset
inline constexpr uint32_t kMaxRowsPerPage = 255;     // row pointers hold the row in one byte
inline constexpr uint32_t kMaxRowSize = 4060;        // longest row a reader accepts
inline constexpr uint32_t kMapRowSize = 69;          // usage map row: type + 68 bytes
inline constexpr uint32_t kLvalSingleMax = 4076;     // long value in one row (flag 0x40)
inline constexpr uint32_t kLvalChunkData = 4072;     // data bytes per chained long-value row
inline constexpr uint32_t kMemoInlineMax = 64;       // long values kept inside the row

enum PageType : uint8_t { kPageDatabase = 0x00, kPageData = 0x01, kPageTableDef = 0x02, kPageUsageBitmap = 0x05 };

// Offsets in the header of a data page.
inline constexpr uint32_t kDataFreeSpace = 2;  // u16
inline constexpr uint32_t kDataOwner = 4;      // u32: the table definition page (see DataPage)
inline constexpr uint32_t kDataRowCount = 12;  // u16, followed by the row offsets
// A row offset entry: the row's start in the low 13 bits, flags above.
inline constexpr uint32_t kRowStartMask = 0x1FFF;

// Offsets in the first page of a table definition.
inline constexpr uint32_t kTableDefNextPage = 4;  // u32: the continuation page, 0 for none
inline constexpr uint32_t kTableDefRowCount = 16;  // u32

// The first byte of a usage-map row: inline (the u32 number of the first page, then a bitmap
// in the row itself) or reference (u32 numbers of bitmap pages, whose bitmap follows a 4-byte
// header).
inline constexpr uint8_t kMapInline = 0x00;
inline constexpr uint8_t kMapReference = 0x01;
inline constexpr uint32_t kInlineMapBitmap = 5;  // offset of the bitmap in an inline map row
inline constexpr uint32_t kBitmapPageBitmap = 4;  // offset of the bitmap in a bitmap page

// Row pointers hold the page in 24 bits.
inline constexpr uint32_t kMaxPageNumber = 0xFFFFFF;

using Page = std::array<uint8_t, kPageSize>;

inline void put_u16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put_u32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
inline void put_u64(uint8_t* p, uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i)); }
inline void put_f64(uint8_t* p, double v) { uint64_t u; std::memcpy(&u, &v, 8); put_u64(p, u); }
inline void put_f32(uint8_t* p, float v) { uint32_t u; std::memcpy(&u, &v, 4); put_u32(p, u); }
inline uint32_t get_u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t get_u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// Row pointer as stored in long-value headers and table definitions.
inline uint32_t row_pointer(uint32_t page, uint32_t row) { return page << 8 | row; }
inline uint32_t pointer_page(uint32_t pointer) { return pointer >> 8; }
inline uint32_t pointer_row(uint32_t pointer) { return pointer & 0xFF; }

// A data page: rows packed down from the page end, their offsets listed after the header.
// owner is the table definition page, the bytes "LVAL" for long-value pages, 0 for map pages.
class DataPage {
public:
    explicit DataPage(Page& page) : p_(page.data()) {}
    void init(uint32_t owner);
    uint32_t row_count() const { return get_u16(p_ + kDataRowCount); }
    uint32_t free_space() const { return get_u16(p_ + kDataFreeSpace); }
    // True when a row of this length still fits (including its offset entry).
    bool fits(size_t length) const;
    // Appends a row; returns its index. The caller checks fits() first.
    uint32_t add_row(std::span<const uint8_t> row);
    // Start offset and length of row i.
    uint32_t row_start(uint32_t i) const { return get_u16(p_ + kDataHeaderSize + 2 * i) & kRowStartMask; }
    uint32_t row_end(uint32_t i) const { return i == 0 ? kPageSize : row_start(i - 1); }
    uint8_t* bytes() { return p_; }

private:
    uint8_t* p_;
};

inline constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL" read as a little-endian word

}  // namespace ringolan::jet
