#include "db/jet/table_rows.h"

#include <vector>

#include "common/ascii.h"
#include "common/cp1252.h"
#include "db/jet/page_edit.h"
#include "db/jet/usage_map.h"
#include "db/jet/value.h"

namespace ringolan::jet {
namespace {

// Enters page n into the usage map row at pointer (the map row's page is changed).
void add_to_map(FilePages& pages, uint32_t pointer, uint32_t n) {
    const uint32_t map_page = pointer_page(pointer);
    const RowSpan s = row_span(pages.original(map_page), pointer_row(pointer));
    Page& mp = pages.change(map_page);
    uint8_t* row = mp.data() + s.start;
    const uint32_t len = s.end - s.start;
    if (len < kInlineMapBitmap) throw LayoutError("usage map row too short");
    if (row[0] == kMapInline) {
        const uint32_t start = get_u32(row + 1);
        if (n < start || n - start >= (len - kInlineMapBitmap) * 8)
            throw Unsupported("the table's usage map cannot list page " + std::to_string(n) + " without being rebuilt");
        row[kInlineMapBitmap + (n - start) / 8] |= uint8_t(1u << ((n - start) % 8));
        return;
    }
    if (row[0] != kMapReference) throw LayoutError("unknown usage map type");
    const uint32_t per_page = kBitmapPagePages;
    const uint32_t slot = n / per_page;
    if (1 + 4 * (slot + 1) > len || get_u32(row + 1 + 4 * slot) == 0)
        throw Unsupported("the table's usage map has no bitmap page for page " + std::to_string(n));
    const uint32_t bp = get_u32(row + 1 + 4 * slot);
    if (pages.original(bp)[0] != kPageUsageBitmap) throw LayoutError("usage map names a page that is no bitmap page");
    Page& b = pages.change(bp);
    b[kBitmapPageBitmap + (n % per_page) / 8] |= uint8_t(1u << ((n % per_page) % 8));
}

// The file-wide map of free pages (page 1, row 0) must list page n as in use. The engine takes
// pages outside the map's range as free, so a page the map does not cover cannot be added.
void take_from_free_pages(FilePages& pages, uint32_t n) {
    const Page& p1 = pages.original(1);
    if (p1[0] != kPageData || get_u16(p1.data() + kDataRowCount) == 0) throw LayoutError("page 1 holds no page map");
    const RowSpan s = row_span(p1, 0);
    const uint8_t* row = p1.data() + s.start;
    const uint32_t len = s.end - s.start;
    const std::string out_of_range = "the file-wide page map does not cover a new page " + std::to_string(n);
    if (len < kInlineMapBitmap) throw LayoutError("file-wide page map row too short");
    if (row[0] == kMapInline) {
        const uint32_t start = get_u32(row + 1);
        if (n < start || n - start >= (len - kInlineMapBitmap) * 8) throw Unsupported(out_of_range);
        const uint32_t bit = n - start;
        const uint32_t at = kInlineMapBitmap + bit / 8;
        if (row[at] & (1u << (bit % 8))) pages.change(1)[s.start + at] &= uint8_t(~(1u << (bit % 8)));
        return;
    }
    if (row[0] != kMapReference) throw LayoutError("unknown type of the file-wide page map");
    const uint32_t per_page = kBitmapPagePages;
    const uint32_t slot = n / per_page;
    if (1 + 4 * (slot + 1) > len || get_u32(row + 1 + 4 * slot) == 0) throw Unsupported(out_of_range);
    const uint32_t bp = get_u32(row + 1 + 4 * slot);
    if (pages.original(bp)[0] != kPageUsageBitmap) throw LayoutError("page map names a page that is no bitmap page");
    const uint32_t bit = n % per_page;
    const uint32_t at = kBitmapPageBitmap + bit / 8;
    if (pages.original(bp)[at] & (1u << (bit % 8))) pages.change(bp)[at] &= uint8_t(~(1u << (bit % 8)));
}

// The page as the pending changes have it.
const Page& current(FilePages& pages, uint32_t n) {
    const auto it = pages.changed().find(n);
    return it != pages.changed().end() ? it->second : pages.original(n);
}

}  // namespace

uint32_t find_table(FilePages& pages, const std::u16string& name) {
    const TableDef cat = read_table_def(2, pages.source());
    const DefColumn* id = cat.column(u"Id");
    const DefColumn* nm = cat.column(u"Name");
    const DefColumn* ty = cat.column(u"Type");
    if (!id || !nm || !ty || nm->type != uint8_t(ColumnType::Text))
        throw LayoutError("the catalog lacks the columns Id, Name and Type");
    uint32_t found = 0;
    scan_rows(cat, pages, [&](uint32_t, uint32_t, const RowView& v) {
        auto n = v.text(*nm);
        auto t = v.integer(*ty);
        auto i = v.integer(*id);
        if (n && t && i && (*t & kCatalogTypeMask) == kCatalogTable && text::equal_ignoring_case(*n, name)) {
            found = uint32_t(*i) & kMaxPageNumber;  // a table's Id is its definition page
            return true;
        }
        return false;
    });
    if (!found) throw Unsupported("the file has no table " + text::utf16_to_utf8(name));
    return found;
}

uint32_t append_table_row(FilePages& pages, const TableDef& def, std::span<const uint8_t> row, RowPlace place) {
    if (row.size() > kMaxRowSize) throw Unsupported("the new row is too long");
    const PageSource src = pages.source();
    const std::vector<uint32_t> own = map_pages(row_at(def.owned_map, src), src);
    for (auto it = own.rbegin(); it != own.rend(); ++it) {
        const Page& page = current(pages, *it);
        if (room_for_row(page, row.size())) {
            const uint32_t index = get_u16(page.data() + kDataRowCount);
            if (!append_row(pages.change(*it), row)) throw LayoutError("a page with room cannot take the row");
            Page& first = pages.change(def.page);
            put_u32(first.data() + kTableDefRowCount, get_u32(first.data() + kTableDefRowCount) + 1);
            return row_pointer(*it, index);
        }
        if (place == RowPlace::last_page) break;
    }
    const uint32_t n = pages.end();
    if (n >= kMaxPageNumber) throw Unsupported("the file has no room for another page");
    add_to_map(pages, def.owned_map, n);
    take_from_free_pages(pages, n);
    Page& fresh = pages.change(n);
    DataPage(fresh).init(def.page);
    if (!append_row(fresh, row)) throw LayoutError("a new page cannot hold the row");
    Page& first = pages.change(def.page);
    put_u32(first.data() + kTableDefRowCount, get_u32(first.data() + kTableDefRowCount) + 1);
    return row_pointer(n, 0);
}

}  // namespace ringolan::jet
