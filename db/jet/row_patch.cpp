#include "db/jet/row_patch.h"

#include <cstring>
#include <cstdint>
#include <string>

#include "db/jet/value.h"

namespace ringolan::jet {
namespace {

// The column's bytes in the fixed area; sets or clears its bit in the null mask.
uint8_t* fixed_field(std::span<uint8_t> row, const DefColumn& c, uint32_t width, bool present) {
    if (c.variable()) throw LayoutError("column is not a fixed-size column");
    if (row.size() < 2) throw LayoutError("row too short");
    const uint32_t columns = get_u16(row.data());
    const size_t mask = (columns + 7u) / 8u;
    if (c.number >= columns || 2 + size_t(c.fixed_offset) + width + mask > row.size())
        throw LayoutError("column lies beyond the row");
    uint8_t& bits = row[row.size() - mask + c.number / 8];
    const uint8_t bit = uint8_t(1u << (c.number % 8));
    bits = present ? uint8_t(bits | bit) : uint8_t(bits & ~bit);
    return row.data() + 2 + c.fixed_offset;
}

}  // namespace

void put_double(std::span<uint8_t> row, const DefColumn& c, std::optional<double> v) {
    if (c.type != uint8_t(ColumnType::Double)) throw LayoutError("column is not a Double column");
    uint8_t* p = fixed_field(row, c, 8, v.has_value());
    if (v) put_f64(p, *v);
    else std::memset(p, 0, 8);
}

void put_whole(std::span<uint8_t> row, const DefColumn& c, std::optional<int64_t> v) {
    uint32_t width = 0;
    int64_t lo = 0, hi = 0;
    switch (ColumnType(c.type)) {
        case ColumnType::Byte: width = 1, lo = 0, hi = 255; break;
        case ColumnType::Integer: width = 2, lo = INT16_MIN, hi = INT16_MAX; break;
        case ColumnType::Long: width = 4, lo = INT32_MIN, hi = INT32_MAX; break;
        default: throw LayoutError("column is not a whole-number column");
    }
    if (v && (*v < lo || *v > hi)) throw LayoutError(std::to_string(*v) + " does not fit the column");
    uint8_t* p = fixed_field(row, c, width, v.has_value());
    const uint32_t u = v ? uint32_t(*v) : 0;
    for (uint32_t i = 0; i < width; ++i) p[i] = uint8_t(u >> (8 * i));
}

std::vector<uint8_t> with_text(const TableDef& def, std::span<const uint8_t> row, const DefColumn& c,
                               const std::optional<std::u16string>& text) {
    if (c.type != uint8_t(ColumnType::Text)) throw LayoutError("column is not a text column");
    if (text && text->size() * 2 > c.length) throw LayoutError("the text is longer than the column allows");
    std::vector<uint8_t> out = RowView(def, row).with_variable(c, text ? store_text(c, *text) : std::vector<uint8_t>());
    if (!text) {
        const size_t mask = (get_u16(out.data()) + 7u) / 8u;
        out[out.size() - mask + c.number / 8] &= uint8_t(~(1u << (c.number % 8)));
    }
    return out;
}

}  // namespace ringolan::jet
