// Reads a Jet file's user tables page by page: which data pages each table owns, and the live
// rows of one data page. Rows come in the order libmdb's table scan gives them (pages in
// usage-map order, rows in row-number order), decoded as read_all decodes them, so a table read
// page by page equals scan_all's rows. Each row is known by its position (page, row number),
// which lets a reader of a changed file decode only the pages that changed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "db/jet/value.h"
#include "db/mdbread/mdb_read.h"

namespace ringolan::mdbread {

struct TableLayout {
    std::string name;                  // as stored in the catalog
    uint32_t definition_page = 0;      // the table's definition (its pages name it as owner)
    std::vector<ColumnInfo> columns;
    std::vector<uint32_t> data_pages;  // ascending; empty when the definition counts no rows
    // Everything of the definition that decides how a row's bytes are split into fields: two
    // layouts with the same row format decode the same page alike.
    std::string row_format;
    bool operator==(const TableLayout&) const = default;
};

// A row's position: the page and its row number there. Unique in a file, ordered as the scan.
inline int64_t row_position(uint32_t page, uint32_t row) { return (int64_t(page) << 12) | int64_t(row & 0xFFF); }

class PageReader {
public:
    // Opens the file and reads its catalog and table definitions; throws Error like scan_all.
    explicit PageReader(const std::filesystem::path& file);
    // As above; data pages are taken from bytes, the file's content, which must stay unchanged
    // while the reader is used (no read per page).
    PageReader(const std::filesystem::path& file, std::span<const uint8_t> bytes);
    ~PageReader();
    PageReader(const PageReader&) = delete;
    PageReader& operator=(const PageReader&) = delete;

    // A second reader of the same file (and bytes), for decoding on another thread.
    std::unique_ptr<PageReader> another() const;

    // Every user table, catalog order.
    const std::vector<TableLayout>& tables() const { return layouts_; }

    using RowFn = std::function<void(uint32_t row_number, const jet::Row& row)>;
    // The live rows of data page `page` of table `table` (an index into tables()); none when the
    // page is no data page of that table. Throws Error on a row that cannot be decoded.
    void decode_page(size_t table, uint32_t page, const RowFn& on_row);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<TableLayout> layouts_;
};

}  // namespace ringolan::mdbread
