// The rows of a table in an existing file: finding the table, visiting its rows, adding one.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "db/jet/file_pages.h"
#include "db/jet/table_def.h"

namespace ringolan::jet {

// The definition page of the user table with this name (ASCII letter case ignored).
// Throws Unsupported when there is none.
uint32_t find_table(FilePages& pages, const std::u16string& name);

// Calls f(page, row, view) for every live row of the table until f returns true. Throws
// Unsupported for a row moved to another page (not supported), LayoutError for a page in the
// table's map that is not one of its data pages.
template <class F>
bool scan_rows(const TableDef& def, FilePages& pages, F f) {
    const PageSource src = pages.source();
    for (uint32_t p : map_pages(row_at(def.owned_map, src), src)) {
        const Page& page = src(p);
        if (page[0] != kPageData || get_u32(page.data() + kDataOwner) != def.page)
            throw LayoutError("page " + std::to_string(p) + " in the table's map is not one of its data pages");
        const uint32_t rows = get_u16(page.data() + kDataRowCount);
        for (uint32_t r = 0; r < rows; ++r) {
            const RowSpan s = row_span(page, r);
            if (s.flags) {
                // A 4-byte flagged row points to a row moved elsewhere; finding it is not supported.
                if (s.end - s.start == 4) throw Unsupported("a row of the table was moved to another page (not supported)");
                continue;  // deleted
            }
            RowView view(def, std::span<const uint8_t>(page.data() + s.start, s.end - s.start));
            if (f(p, r, view)) return true;
        }
    }
    return false;
}

// Where a new row may go: any page of the table with room (searched from the last), or only
// its last page. Failing that, a new page at the end of the file.
enum class RowPlace { any_page, last_page };

// Adds the finished row bytes to the table and counts it in the definition; returns the row
// pointer. The pages changed are pending in `pages`: the row's data page (a new one is
// pages.end() at the call), the usage-map pages and the definition's first page. Throws
// Unsupported when no page has room and the maps cannot list a new page.
uint32_t append_table_row(FilePages& pages, const TableDef& def, std::span<const uint8_t> row, RowPlace place);

}  // namespace ringolan::jet
