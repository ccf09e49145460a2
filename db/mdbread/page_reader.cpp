#include "db/mdbread/page_reader.h"

#include <cstring>
#include <stdexcept>

#include "common/error.h"
#include "db/mdbread/field_decode.h"
#include "db/mdbread/mdb_open.h"

namespace ringolan::mdbread {

using namespace detail;

namespace {

constexpr unsigned char kDataPage = 0x01;
constexpr int kDeletedRow = 0x4000;
constexpr int kRowOffsetMask = 0x1FFF;

// The pages from `from` on that are data pages of the table, as libmdb's scan finds them
// without a usage map.
std::vector<uint32_t> owned_pages(MdbHandle* mdb, MdbTableDef* table, guint32 from) {
    std::vector<uint32_t> pages;
    const guint32 owner = guint32(table->entry->table_pg);
    for (guint32 page = from;; ++page) {
        mdb->cur_pg = 0;
        if (mdb_read_pg(mdb, page) != ssize_t(mdb->fmt->pg_size)) break;
        if (mdb->pg_buf[0] == kDataPage && guint32(mdb_get_int32(mdb->pg_buf, 4)) == owner) pages.push_back(page);
    }
    return pages;
}

// The pages whose bits are set in a usage-map bitmap; bit i stands for page first + i. Bits
// below `from` are left out (the scan starts after page 0, as libmdb's does).
void add_bitmap_pages(const unsigned char* bitmap, size_t bits, uint32_t first, uint32_t from, std::vector<uint32_t>& out) {
    for (size_t i = 0; i < bits; ++i) {
        if (!(bitmap[i / 8] & (1u << (i % 8)))) continue;
        const uint32_t page = first + uint32_t(i);
        if (page >= from) out.push_back(page);
    }
}

// The table's data pages as its usage map lists them, in libmdb's scan order: an inline map
// (type 0: first page, then a bitmap) or a map of bitmap pages (type 1: page numbers, each
// page's bitmap covering (page size - 4) * 8 pages).
std::vector<uint32_t> map_pages(MdbHandle* mdb, MdbTableDef* table) {
    std::vector<uint32_t> pages;
    if (table->num_rows == 0) return pages;  // libmdb's scan reads nothing then
    const unsigned char* map = table->usage_map;
    const size_t size = table->map_sz;
    if (size < 1 || !map) return owned_pages(mdb, table, 0);
    if (map[0] == 0) {
        if (size < 5) return pages;
        const uint32_t first = uint32_t(mdb_get_int32(const_cast<unsigned char*>(map), 1));
        add_bitmap_pages(map + 5, (size - 5) * 8, first, first == 0 ? 1 : 0, pages);
        return pages;
    }
    if (map[0] != 1) return owned_pages(mdb, table, 0);  // libmdb scans every page then
    const size_t bits = size_t(mdb->fmt->pg_size - 4) * 8;
    for (size_t index = 0; index < (size - 1) / 4; ++index) {
        const uint32_t map_page = uint32_t(mdb_get_int32(const_cast<unsigned char*>(map), int(index * 4 + 1)));
        if (map_page == 0) continue;
        if (mdb_read_alt_pg(mdb, map_page) != ssize_t(mdb->fmt->pg_size)) {
            const uint32_t from = pages.empty() ? 0 : pages.back() + 1;
            std::vector<uint32_t> rest = owned_pages(mdb, table, from);
            pages.insert(pages.end(), rest.begin(), rest.end());
            return pages;
        }
        add_bitmap_pages(mdb->alt_pg_buf + 4, bits, uint32_t(index * bits), 1, pages);
    }
    return pages;
}

std::string row_format(const MdbTableDef& table, const std::vector<MdbColumn*>& cols) {
    std::string out = std::to_string(table.num_cols) + '/' + std::to_string(table.num_var_cols);
    for (const MdbColumn* c : cols) {
        for (long v : {long(c->col_type), long(c->col_size), long(c->is_fixed), long(c->col_num), long(c->col_prec),
                       long(c->col_scale), long(c->fixed_offset), long(c->var_col_num), long(c->row_col_num)})
            out += ' ' + std::to_string(v);
        out += ';';
    }
    return out;
}

}  // namespace

struct PageReader::Impl {
    std::filesystem::path file;
    Handle mdb;
    std::vector<TablePtr> definitions;
    std::vector<std::vector<MdbColumn*>> columns;
    std::vector<MdbField> fields;
    jet::Row row;
    std::span<const uint8_t> bytes;  // the file's content, or empty

    // Reads page into mdb->pg_buf as mdb_read_pg does; false when it lies beyond the end.
    bool read_page(uint32_t page) {
        MdbHandle* m = mdb.get();
        const size_t size = m->fmt->pg_size;
        const size_t at = size_t(page) * size;
        // Encrypted files are left to libmdb, which decrypts each page it reads.
        if (m->f->db_key != 0 || at + size > bytes.size() || size > sizeof m->pg_buf) {
            m->cur_pg = 0;  // libmdb skips the read when it believes the page is in its buffer
            return mdb_read_pg(m, page) == ssize_t(size);
        }
        std::memcpy(m->pg_buf, bytes.data() + at, size);
        m->cur_pg = page;
        m->cur_pos = 0;
        return true;
    }
};

PageReader::PageReader(const std::filesystem::path& file, std::span<const uint8_t> bytes) : PageReader(file) {
    impl_->bytes = bytes;
}

PageReader::PageReader(const std::filesystem::path& file) : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.file = file;
    m.mdb = open_database(file);
    for (MdbCatalogEntry* entry : user_tables(m.mdb.get())) {
        TablePtr table = read_definition(file, entry);
        TableLayout layout;
        layout.name = entry->object_name;
        layout.definition_page = guint32(entry->table_pg);
        layout.columns = column_infos(m.mdb.get(), table.get());
        try {
            layout.data_pages = map_pages(m.mdb.get(), table.get());
        } catch (const std::runtime_error& e) {
            fail(file, "table " + layout.name + ": " + e.what());
        }
        std::vector<MdbColumn*> cols;
        for (guint i = 0; i < table->columns->len; ++i)
            cols.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i)));
        layout.row_format = row_format(*table, cols);
        m.columns.push_back(std::move(cols));
        m.definitions.push_back(std::move(table));
        layouts_.push_back(std::move(layout));
    }
}

PageReader::~PageReader() = default;

std::unique_ptr<PageReader> PageReader::another() const {
    return std::make_unique<PageReader>(impl_->file, impl_->bytes);
}

void PageReader::decode_page(size_t t, uint32_t page, const RowFn& on_row) {
    Impl& m = *impl_;
    MdbHandle* mdb = m.mdb.get();
    MdbTableDef* table = m.definitions.at(t).get();
    const std::vector<MdbColumn*>& cols = m.columns[t];
    const std::string where = "table " + layouts_[t].name + ", page " + std::to_string(page);
    if (!m.read_page(page)) fail(m.file, where + ": offset beyond EOF");
    if (mdb->pg_buf[0] != kDataPage || guint32(mdb_get_int32(mdb->pg_buf, 4)) != layouts_[t].definition_page) return;
    const int rows = mdb_get_int16(mdb->pg_buf, mdb->fmt->row_count_offset);
    m.fields.resize(cols.size());
    m.row.resize(cols.size());
    for (int r = 0; r < rows; ++r) {
        int start = 0;
        size_t len = 0;
        // libmdb's scan skips empty, deleted and unsplittable rows.
        if (mdb_find_row(mdb, r, &start, &len) != 0) fail(m.file, where + ": cannot locate row " + std::to_string(r));
        if (len == 0 || (start & kDeletedRow)) continue;
        if (mdb_crack_row(table, start & kRowOffsetMask, len, m.fields.data()) < 0) continue;
        for (size_t i = 0; i < cols.size(); ++i) {
            const MdbColumn& col = *cols[m.fields[i].colnum];
            try {
                m.row[i] = detail::decode_field(mdb, col, m.fields[i]);
            } catch (const std::runtime_error& e) {
                fail(m.file, where + ", row " + std::to_string(r) + ", column " + col.name + ": " + e.what());
            }
        }
        on_row(uint32_t(r), m.row);
    }
}

}  // namespace ringolan::mdbread
