// Reading an existing Jet 4 table: its definition (columns, indexes, map pointers) and its rows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "db/jet/page.h"

namespace ringolan::jet {

// The file does not look the way this code expects; nothing may be changed then.
class LayoutError : public Error {
public:
    using Error::Error;
};

inline constexpr uint8_t kColumnFixed = 0x01;
inline constexpr uint8_t kColumnAutoNumber = 0x04;

// The catalog (table definition at page 2): its Type column, low 7 bits, is kCatalogTable for
// a table.
inline constexpr int64_t kCatalogTypeMask = 0x7F;
inline constexpr int64_t kCatalogTable = 1;

struct DefColumn {
    std::u16string name;
    uint8_t type = 0;
    uint16_t number = 0;
    uint16_t var_index = 0;
    uint16_t fixed_offset = 0;
    uint16_t length = 0;
    uint8_t flags = 0;
    bool compressed = false;  // text may be stored in the compressed form
    bool variable() const { return !(flags & kColumnFixed); }
};

struct TableDef {
    uint32_t page = 0;                 // first definition page
    std::vector<uint32_t> pages;       // all definition pages, in order
    uint32_t row_count = 0;
    uint16_t max_columns = 0;
    uint16_t var_columns = 0;
    uint32_t logical_indexes = 0;
    uint32_t real_indexes = 0;
    uint32_t owned_map = 0;            // row pointers
    uint32_t free_map = 0;
    std::vector<DefColumn> columns;    // in definition order
    std::vector<std::vector<uint16_t>> index_columns;  // column numbers per real index

    const DefColumn* column(std::u16string_view name) const;  // ASCII case-insensitive
    bool indexed(uint16_t column_number) const;
};

using PageSource = std::function<const Page&(uint32_t)>;

// Parses the definition starting at page. Throws LayoutError on anything unexpected.
TableDef read_table_def(uint32_t page, const PageSource& page_at);

// Byte range [start, end) of row `row` on a data page, and its flag bits.
struct RowSpan {
    uint32_t start = 0, end = 0;
    uint16_t flags = 0;  // 0x4000 / 0x8000 bits of the offset entry
};
// A row ends where the row numbered one less starts (row 0 at the page end).
RowSpan row_span(const Page& page, uint32_t row);
// True when row starts descend with the row number (each row then ends where the one before starts).
bool rows_in_order(const Page& page);

// One stored row, decoded against a definition.
class RowView {
public:
    RowView(const TableDef& def, std::span<const uint8_t> bytes);  // throws LayoutError
    bool is_null(const DefColumn& c) const;
    // Raw stored bytes of a column (empty for NULL); for fixed columns the fixed-size field.
    std::span<const uint8_t> raw(const DefColumn& c) const;
    std::optional<std::u16string> text(const DefColumn& c) const;
    std::optional<int64_t> integer(const DefColumn& c) const;
    // Double, Single and DateTime (days since 1899-12-30) columns.
    std::optional<double> real(const DefColumn& c) const;

    // The row with one variable column set to new stored bytes (its null bit set).
    std::vector<uint8_t> with_variable(const DefColumn& c, std::span<const uint8_t> stored) const;

private:
    std::span<const uint8_t> b_;
    uint16_t column_count_ = 0;
    uint16_t var_count_ = 0;
    size_t mask_at_ = 0;
    std::vector<uint16_t> var_start_;  // var_count + 1 entries, the last being the end of the data
};

// What decode_text does with a character cut short at the end of the bytes.
enum class CutCharacter {
    Refuse,  // LayoutError
    Drop,    // the text ends before it (the reader takes what libmdb delivers)
};

// Stored text to UTF-16 (compressed form recognised by its FF FE prefix: one byte per
// character until a 0x00 switches to two bytes, and back).
std::u16string decode_text(std::span<const uint8_t> stored, CutCharacter cut = CutCharacter::Refuse);
// Text as the engine stores it in a column: compressed when the column allows it and every
// character is one byte wide, else UCS-2LE.
std::vector<uint8_t> store_text(const DefColumn& c, const std::u16string& text);

// Pages listed in a usage-map row of any length (inline or reference form).
std::vector<uint32_t> map_pages(std::span<const uint8_t> map_row, const PageSource& page_at);

// Bytes of the row a row pointer (page << 8 | row) names.
std::span<const uint8_t> row_at(uint32_t pointer, const PageSource& page_at);

}  // namespace ringolan::jet
