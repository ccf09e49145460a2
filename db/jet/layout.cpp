#include "db/jet/layout.h"

#include <algorithm>
#include <set>
#include <string>

#include "common/ascii.h"
#include "db/jet/page.h"
#include "db/jet/utf16.h"
#include "db/jet/writer.h"

namespace ringolan::jet {
namespace {

constexpr uint32_t kMagic = 0x0659;
constexpr size_t kHeaderFields = 63;  // up to the first column entry (no index entries)
constexpr size_t kColumnEntry = 25;

}  // namespace

std::string name_key(std::string s) { return text::ascii_lower(s); }

uint16_t fixed_size(ColumnType t) {
    switch (t) {
        case ColumnType::Byte: return 1;
        case ColumnType::Integer: return 2;
        case ColumnType::Long: return 4;
        case ColumnType::Single: return 4;
        case ColumnType::Currency:
        case ColumnType::Double:
        case ColumnType::DateTime: return 8;
        default: return 0;
    }
}

bool is_variable(ColumnType t) {
    return t == ColumnType::Text || t == ColumnType::Memo || t == ColumnType::Ole;
}

TableLayout make_layout(const std::vector<Column>& columns) {
    if (columns.empty()) throw WriteError("a table needs at least one column");
    if (columns.size() > 255) throw WriteError("a table has at most 255 columns");
    TableLayout t;
    std::set<std::string> names;
    for (size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        if (c.name.empty()) throw WriteError("column " + std::to_string(i + 1) + " has no name", int(i));
        if (utf16_length_checked(c.name) > 64)
            throw WriteError("column name \"" + c.name + "\" is longer than 64 characters", int(i));
        if (!names.insert(name_key(c.name)).second)
            throw WriteError("column name \"" + c.name + "\" occurs twice", int(i));
        ColumnLayout l;
        l.column = c;
        l.number = uint16_t(i);
        l.variable = is_variable(c.type);
        switch (c.type) {
            case ColumnType::Text:
                if (c.size < 1 || c.size > 255)
                    throw WriteError("text column \"" + c.name + "\" needs a size of 1 to 255 characters", int(i));
                l.length = uint16_t(c.size * 2);
                break;
            case ColumnType::Boolean: l.length = 1; break;
            case ColumnType::Memo:
            case ColumnType::Ole: l.length = 0; break;
            default: l.length = fixed_size(c.type); break;
        }
        if (l.variable) {
            l.var_index = t.var_count++;
        } else if (c.type != ColumnType::Boolean) {
            l.fixed_offset = t.fixed_size;
            t.fixed_size = uint16_t(t.fixed_size + fixed_size(c.type));
        }
        t.columns.push_back(std::move(l));
    }
    return t;
}

size_t table_def_length(const TableLayout& layout) {
    size_t n = kHeaderFields + kColumnEntry * layout.columns.size();
    for (const auto& c : layout.columns) n += 2 + 2 * utf16_length_checked(c.column.name);
    for (const auto& c : layout.columns)
        if (c.column.type == ColumnType::Memo) n += 10;
    return n + 2;
}

std::vector<uint8_t> build_table_def(const TableLayout& layout, const TableDefInfo& info) {
    std::vector<uint8_t> d(kHeaderFields + kColumnEntry * layout.columns.size(), 0);
    uint8_t* p = d.data();
    p[0] = kPageTableDef;
    p[1] = 0x01;
    put_u16(p + 12, kMagic);
    put_u32(p + kTableDefRowCount, info.row_count);
    p[24] = 0x01;
    p[40] = info.system ? 0x53 : 0x4E;
    const uint16_t ncols = uint16_t(layout.columns.size());
    put_u16(p + 41, ncols);
    put_u16(p + 43, layout.var_count);
    put_u16(p + 45, ncols);
    put_u32(p + 47, 0);  // logical indexes
    put_u32(p + 51, 0);  // real indexes
    put_u32(p + 55, info.owned_map);
    put_u32(p + 59, info.free_map);

    for (size_t i = 0; i < layout.columns.size(); ++i) {
        const ColumnLayout& c = layout.columns[i];
        uint8_t* e = p + kHeaderFields + kColumnEntry * i;
        e[0] = uint8_t(c.column.type);
        put_u32(e + 1, kMagic);
        put_u16(e + 5, c.number);
        put_u16(e + 7, c.variable ? c.var_index : 0);
        put_u16(e + 9, c.number);
        if (c.column.type == ColumnType::Text || c.column.type == ColumnType::Memo) put_u16(e + 11, 0x0409);
        e[15] = c.variable ? 0x02 : 0x03;
        put_u16(e + 21, c.fixed_offset);
        put_u16(e + 23, c.length);
    }
    for (const auto& c : layout.columns) {
        const std::u16string name = utf8_to_utf16_checked(c.column.name);
        const size_t at = d.size();
        d.resize(at + 2 + 2 * name.size());
        put_u16(d.data() + at, uint32_t(2 * name.size()));
        for (size_t k = 0; k < name.size(); ++k) put_u16(d.data() + at + 2 + 2 * k, name[k]);
    }
    for (const auto& m : info.long_value_maps) {
        const size_t at = d.size();
        d.resize(at + 10);
        put_u16(d.data() + at, m.column_number);
        put_u32(d.data() + at + 2, m.owned_map);
        put_u32(d.data() + at + 6, m.free_map);
    }
    d.push_back(0xFF);
    d.push_back(0xFF);
    put_u32(d.data() + 8, uint32_t(d.size()));
    return d;
}

uint32_t table_def_pages(size_t length) {
    if (length <= kPageSize) return 1;
    const size_t rest = length - kPageSize;
    return uint32_t(1 + (rest + (kPageSize - 8) - 1) / (kPageSize - 8));
}

void place_table_def(const std::vector<uint8_t>& def, const std::vector<Page*>& pages,
                     const std::vector<uint32_t>& page_numbers) {
    size_t pos = 0;
    for (size_t k = 0; k < pages.size(); ++k) {
        Page& pg = *pages[k];
        pg.fill(0);
        size_t used;
        if (k == 0) {
            used = std::min<size_t>(def.size(), kPageSize);
            std::copy_n(def.begin(), used, pg.begin());
            pos = used;
        } else {
            pg[0] = kPageTableDef;
            pg[1] = 0x01;
            const size_t n = std::min<size_t>(def.size() - pos, kPageSize - 8);
            std::copy_n(def.begin() + long(pos), n, pg.begin() + 8);
            pos += n;
            used = n + 8;
        }
        put_u16(pg.data() + 2, used + 8 <= kPageSize ? uint32_t(kPageSize - used - 8) : 0);
        put_u32(pg.data() + 4, k + 1 < pages.size() ? page_numbers[k + 1] : 0);
    }
}

}  // namespace ringolan::jet
