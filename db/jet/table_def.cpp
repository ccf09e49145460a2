#include "db/jet/table_def.h"

#include <algorithm>
#include <cstring>

#include "common/ascii.h"
#include "db/jet/usage_map.h"

namespace ringolan::jet {
namespace {

constexpr size_t kHeaderFields = 63;
constexpr size_t kRealIndexCount = 12;   // per real index, before the columns
constexpr size_t kColumnEntry = 25;
constexpr size_t kRealIndexEntry = 52;
constexpr uint16_t kNoColumn = 0xFFFF;

[[noreturn]] void bad(const std::string& what) { throw LayoutError(what); }

uint32_t fixed_width(uint8_t type) {
    switch (type) {
        case 0x01: return 0;
        case 0x02: return 1;
        case 0x03: return 2;
        case 0x04: case 0x06: return 4;
        case 0x05: case 0x07: case 0x08: return 8;
        case 0x0F: return 16;  // replication id
        case 0x10: return 17;  // numeric
        default: return 0;
    }
}

}  // namespace

const DefColumn* TableDef::column(std::u16string_view name) const {
    for (const DefColumn& c : columns)
        if (text::equal_ignoring_case(c.name, name)) return &c;
    return nullptr;
}

bool TableDef::indexed(uint16_t number) const {
    for (const auto& cols : index_columns)
        if (std::find(cols.begin(), cols.end(), number) != cols.end()) return true;
    return false;
}

TableDef read_table_def(uint32_t first, const PageSource& page_at) {
    TableDef def;
    def.page = first;
    std::vector<uint8_t> d;
    for (uint32_t p = first; p != 0;) {
        if (std::find(def.pages.begin(), def.pages.end(), p) != def.pages.end()) bad("table definition pages form a loop");
        if (def.pages.size() > 64) bad("table definition longer than 64 pages");
        const Page& page = page_at(p);
        if (page[0] != kPageTableDef || page[1] != 0x01)
            bad("page " + std::to_string(p) + " is not a table definition page");
        def.pages.push_back(p);
        if (d.empty()) d.assign(page.begin(), page.end());
        else d.insert(d.end(), page.begin() + 8, page.end());
        p = get_u32(page.data() + kTableDefNextPage);
    }
    auto need = [&](size_t at, size_t n) {
        if (at + n > d.size()) bad("table definition ends early");
    };
    need(0, kHeaderFields);
    def.row_count = get_u32(&d[kTableDefRowCount]);
    def.max_columns = uint16_t(get_u16(&d[41]));
    def.var_columns = uint16_t(get_u16(&d[43]));
    const uint32_t ncols = get_u16(&d[45]);
    def.logical_indexes = get_u32(&d[47]);
    def.real_indexes = get_u32(&d[51]);
    def.owned_map = get_u32(&d[55]);
    def.free_map = get_u32(&d[59]);
    if (d[40] != 0x4E && d[40] != 0x53) bad("unknown table type " + std::to_string(d[40]));
    if (ncols == 0 || def.real_indexes > 1000 || def.logical_indexes > 1000) bad("implausible column or index counts");

    size_t at = kHeaderFields + kRealIndexCount * def.real_indexes;
    need(at, kColumnEntry * ncols);
    for (uint32_t i = 0; i < ncols; ++i, at += kColumnEntry) {
        const uint8_t* e = &d[at];
        DefColumn c;
        c.type = e[0];
        c.number = uint16_t(get_u16(e + 5));
        c.var_index = uint16_t(get_u16(e + 7));
        c.flags = e[15];
        c.compressed = e[16] & 0x01;
        c.fixed_offset = uint16_t(get_u16(e + 21));
        c.length = uint16_t(get_u16(e + 23));
        def.columns.push_back(c);
    }
    for (DefColumn& c : def.columns) {
        need(at, 2);
        const uint32_t len = get_u16(&d[at]);
        need(at + 2, len);
        if (len % 2) bad("column name of odd byte length");
        for (uint32_t k = 0; k < len; k += 2) c.name.push_back(char16_t(get_u16(&d[at + 2 + k])));
        at += 2 + len;
    }
    need(at, kRealIndexEntry * def.real_indexes);
    for (uint32_t i = 0; i < def.real_indexes; ++i, at += kRealIndexEntry) {
        std::vector<uint16_t> cols;
        for (int k = 0; k < 10; ++k) {
            const uint16_t n = uint16_t(get_u16(&d[at + 4 + 3 * k]));
            if (n == kNoColumn) continue;
            if (std::none_of(def.columns.begin(), def.columns.end(), [&](const DefColumn& c) { return c.number == n; }))
                bad("index on unknown column number " + std::to_string(n));
            cols.push_back(n);
        }
        def.index_columns.push_back(std::move(cols));
    }
    return def;
}

RowSpan row_span(const Page& page, uint32_t row) {
    const uint32_t rows = get_u16(page.data() + kDataRowCount);
    if (row >= rows) bad("row " + std::to_string(row) + " is not on its page");
    RowSpan s;
    const uint32_t entry = get_u16(page.data() + kDataHeaderSize + 2 * row);
    s.flags = uint16_t(entry & 0xC000);
    s.start = entry & kRowStartMask;
    // As every reader takes it: a row ends where the row before it in number order starts.
    s.end = row == 0 ? kPageSize : get_u16(page.data() + kDataHeaderSize + 2 * (row - 1)) & kRowStartMask;
    if (s.start < kDataHeaderSize + 2 * rows || s.start > s.end) bad("row offsets out of order");
    return s;
}

bool rows_in_order(const Page& page) {
    const uint32_t rows = get_u16(page.data() + kDataRowCount);
    uint32_t above = kPageSize;
    for (uint32_t i = 0; i < rows; ++i) {
        const uint32_t s = get_u16(page.data() + kDataHeaderSize + 2 * i) & kRowStartMask;
        if (s > above || s < kDataHeaderSize + 2 * rows) return false;
        above = s;
    }
    return true;
}

RowView::RowView(const TableDef& def, std::span<const uint8_t> b) : b_(b) {
    if (b.size() < 3) bad("row too short");
    column_count_ = uint16_t(get_u16(b.data()));
    const size_t mask = (column_count_ + 7u) / 8u;
    if (mask + 2 > b.size()) bad("row too short for its null mask");
    mask_at_ = b.size() - mask;
    if (def.var_columns == 0) return;
    if (mask_at_ < 2 + 2) bad("row too short for its variable columns");
    var_count_ = uint16_t(get_u16(b.data() + mask_at_ - 2));
    const size_t table = mask_at_ - 2 - 2 * size_t(var_count_) - 2;  // where the end-of-data offset lives
    if (2 * size_t(var_count_) + 4 > mask_at_) bad("row variable count out of range");
    var_start_.resize(var_count_ + 1);
    for (size_t i = 0; i < var_count_; ++i) var_start_[i] = uint16_t(get_u16(b.data() + mask_at_ - 4 - 2 * i));
    var_start_[var_count_] = uint16_t(get_u16(b.data() + table));
    for (size_t i = 0; i < var_count_; ++i)
        if (var_start_[i] > var_start_[i + 1] || var_start_[i] < 2) bad("row variable offsets out of order");
    if (var_start_[var_count_] > table) bad("row data runs into its offset table");
}

bool RowView::is_null(const DefColumn& c) const {
    if (c.number >= column_count_) return true;
    if (c.variable() && c.var_index >= var_count_) return true;
    return !(b_[mask_at_ + c.number / 8] & (1u << (c.number % 8)));
}

std::span<const uint8_t> RowView::raw(const DefColumn& c) const {
    if (is_null(c)) return {};
    if (c.variable()) return b_.subspan(var_start_[c.var_index], var_start_[c.var_index + 1] - var_start_[c.var_index]);
    const size_t at = 2 + size_t(c.fixed_offset);
    const size_t n = c.type == 0x01 ? 0 : fixed_width(c.type) ? fixed_width(c.type) : c.length;
    if (at + n > b_.size()) bad("fixed column beyond the row");
    return b_.subspan(at, n);
}

std::optional<std::u16string> RowView::text(const DefColumn& c) const {
    if (c.type != 0x0A) bad("column is not a text column");
    if (is_null(c)) return std::nullopt;
    return decode_text(raw(c));
}

std::optional<int64_t> RowView::integer(const DefColumn& c) const {
    if (is_null(c)) return std::nullopt;
    auto r = raw(c);
    switch (c.type) {
        case 0x02: return r[0];
        case 0x03: return int16_t(get_u16(r.data()));
        case 0x04: return int32_t(get_u32(r.data()));
        default: bad("column is not a whole-number column");
    }
}

std::optional<double> RowView::real(const DefColumn& c) const {
    if (is_null(c)) return std::nullopt;
    auto r = raw(c);
    if (c.type == 0x07 || c.type == 0x08) {
        double d;
        uint64_t u = uint64_t(get_u32(r.data())) | uint64_t(get_u32(r.data() + 4)) << 32;
        std::memcpy(&d, &u, 8);
        return d;
    }
    if (c.type == 0x06) {
        float f;
        const uint32_t u = get_u32(r.data());
        std::memcpy(&f, &u, 4);
        return f;
    }
    bad("column is not a floating-point column");
}

std::vector<uint8_t> RowView::with_variable(const DefColumn& c, std::span<const uint8_t> stored) const {
    if (!c.variable() || c.number >= column_count_ || c.var_index >= var_count_)
        bad("the row has no place for this column");
    const size_t from = var_start_[c.var_index], to = var_start_[c.var_index + 1];
    const long delta = long(stored.size()) - long(to - from);
    std::vector<uint8_t> out(b_.begin(), b_.begin() + long(from));
    out.insert(out.end(), stored.begin(), stored.end());
    out.insert(out.end(), b_.begin() + long(to), b_.end());
    const size_t mask_at = size_t(long(mask_at_) + delta);
    for (size_t i = c.var_index + 1; i <= var_count_; ++i) {
        const long v = long(var_start_[i]) + delta;
        if (v > 0xFFFF) bad("row too long");
        const size_t slot = i == var_count_ ? mask_at - 2 - 2 * size_t(var_count_) - 2 : mask_at - 4 - 2 * i;
        put_u16(out.data() + slot, uint32_t(v));
    }
    out[mask_at + c.number / 8] |= uint8_t(1u << (c.number % 8));
    return out;
}

std::u16string decode_text(std::span<const uint8_t> s, CutCharacter cut) {
    std::u16string out;
    if (s.size() >= 2 && s[0] == 0xFF && s[1] == 0xFE) {
        out.reserve(s.size());
        bool compressed = true;
        for (size_t i = 2; i < s.size();) {
            if (s[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                out.push_back(s[i++]);
            } else if (i + 1 < s.size()) {
                out.push_back(char16_t(get_u16(&s[i])));
                i += 2;
            } else {
                if (cut == CutCharacter::Refuse) bad("compressed text ends inside a character");
                break;
            }
        }
        return out;
    }
    if (s.size() % 2 && cut == CutCharacter::Refuse) bad("text of odd byte length");
    out.reserve(s.size() / 2);
    for (size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(char16_t(get_u16(&s[i])));
    return out;
}

std::vector<uint8_t> store_text(const DefColumn& c, const std::u16string& text) {
    std::vector<uint8_t> out;
    const bool narrow = std::all_of(text.begin(), text.end(), [](char16_t ch) { return ch != 0 && ch < 0x100; });
    if (c.compressed && narrow && !text.empty()) {
        out = {0xFF, 0xFE};
        for (char16_t ch : text) out.push_back(uint8_t(ch));
        return out;
    }
    if (!text.empty() && text[0] == 0xFEFF) bad("text starting with U+FEFF would read as compressed");
    for (char16_t ch : text) {
        out.push_back(uint8_t(ch));
        out.push_back(uint8_t(ch >> 8));
    }
    return out;
}

std::vector<uint32_t> map_pages(std::span<const uint8_t> row, const PageSource& page_at) {
    std::vector<uint32_t> pages;
    if (row.size() < kInlineMapBitmap) bad("usage map row too short");
    if (row[0] == kMapInline) {
        const uint32_t start = get_u32(&row[1]);
        for (uint32_t i = 0; i < (row.size() - kInlineMapBitmap) * 8; ++i)
            if (row[kInlineMapBitmap + i / 8] & (1u << (i % 8))) pages.push_back(start + i);
    } else if (row[0] == kMapReference) {
        const uint32_t per_page = kBitmapPagePages;
        for (uint32_t slot = 0; 1 + 4 * (slot + 1) <= row.size(); ++slot) {
            const uint32_t number = get_u32(&row[1 + 4 * slot]);
            if (!number) continue;
            const Page& bp = page_at(number);
            if (bp[0] != kPageUsageBitmap) bad("usage map names a page that is no bitmap page");
            for (uint32_t i = 0; i < per_page; ++i)
                if (bp[kBitmapPageBitmap + i / 8] & (1u << (i % 8))) pages.push_back(slot * per_page + i);
        }
    } else {
        bad("unknown usage map type " + std::to_string(row[0]));
    }
    return pages;
}

std::span<const uint8_t> row_at(uint32_t pointer, const PageSource& page_at) {
    const Page& page = page_at(pointer_page(pointer));
    if (page[0] != kPageData) bad("row pointer names a page that is no data page");
    const RowSpan s = row_span(page, pointer_row(pointer));
    return std::span<const uint8_t>(page.data() + s.start, s.end - s.start);
}

}  // namespace ringolan::jet
