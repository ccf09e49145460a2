#include "db/jet/writer.h"


#include <cstring>
#include <set>

#include "common/error.h"
#include "db/jet/header.h"
#include "db/jet/layout.h"
#include "db/jet/page.h"
#include "db/jet/row_codec.h"
#include "db/jet/usage_map.h"
#include "db/jet/utf16.h"
#include "platform/file.h"

namespace ringolan::jet {
namespace {

constexpr uint32_t kCatalogPage = 2;  // readers look for the catalog's definition here
constexpr uint32_t kSystemFlags = 0x80000002;
constexpr int16_t kObjectTable = 1;

// Pages written into, in order: each stream fills one page before starting the next.
struct PageStream {
    uint32_t owner = 0;
    uint32_t owned_map = 0, free_map = 0;  // row pointers of its usage-map rows
    std::vector<uint32_t> pages;
};

}  // namespace

struct DatabaseWriter::Impl {
    std::vector<std::unique_ptr<Page>> pages;
    std::vector<std::unique_ptr<TableWriter::Impl>> table_impls;
    std::vector<std::unique_ptr<TableWriter>> tables;
    std::unique_ptr<TableWriter::Impl> catalog;
    std::set<std::string> names;
    uint32_t map_page = 0;
    double creation_date = 43831.0;  // 2020-01-01: a fixed stamp keeps files reproducible
    bool finished = false;

    uint32_t new_page() {
        pages.push_back(std::make_unique<Page>());
        pages.back()->fill(0);
        return uint32_t(pages.size() - 1);
    }
    Page& page(uint32_t n) { return *pages.at(n); }

    // Appends a row to the stream's current page, starting a new page when it does not fit.
    uint32_t append(PageStream& s, std::span<const uint8_t> row) {
        if (s.pages.empty() || !DataPage(page(s.pages.back())).fits(row.size())) {
            const uint32_t n = new_page();
            DataPage(page(n)).init(s.owner);
            s.pages.push_back(n);
        }
        const uint32_t p = s.pages.back();
        return row_pointer(p, DataPage(page(p)).add_row(row));
    }

    // Reserves an empty usage-map row, filled in when the file is finished.
    uint32_t reserve_map_row() {
        static const uint8_t kEmpty[kMapRowSize] = {};
        if (map_page == 0 || !DataPage(page(map_page)).fits(kMapRowSize)) {
            map_page = new_page();
            DataPage(page(map_page)).init(0);
        }
        return row_pointer(map_page, DataPage(page(map_page)).add_row(kEmpty));
    }
    uint8_t* map_row(uint32_t pointer) {
        Page& pg = page(pointer >> 8);
        return pg.data() + DataPage(pg).row_start(pointer & 0xFF);
    }

    std::unique_ptr<TableWriter::Impl> make_table(const std::string& name, const std::vector<Column>& columns,
                                                  bool system, uint32_t fixed_def_page);
    void finish();
    void finish_table(TableWriter::Impl& t);
    void fill_map(uint32_t pointer, const std::vector<uint32_t>& pages);
};

struct TableWriter::Impl : LongValueSink {
    DatabaseWriter::Impl* db = nullptr;
    std::string name;
    std::vector<Column> columns;
    TableLayout layout;
    bool system = false;
    std::vector<uint32_t> def_pages;
    PageStream data;
    std::vector<PageStream> long_values;  // one per memo column, in column order
    std::vector<int> long_value_of;       // column number -> index in long_values or -1
    size_t rows = 0;

    uint32_t store(uint16_t column_number, std::span<const uint8_t> row) override {
        return db->append(long_values[size_t(long_value_of[column_number])], row);
    }
};

const std::string& TableWriter::name() const { return impl_->name; }
const std::vector<Column>& TableWriter::columns() const { return impl_->columns; }
size_t TableWriter::row_count() const { return impl_->rows; }

void TableWriter::add_row(const Row& row) {
    if (impl_->db->finished) throw WriteError("the database has already been written");
    if (impl_->rows >= UINT32_MAX) throw WriteError("table \"" + impl_->name + "\" is full");
    std::vector<uint8_t> bytes = finish_row(impl_->layout, prepare_row(impl_->layout, row), *impl_);
    impl_->db->append(impl_->data, bytes);
    ++impl_->rows;
}

DatabaseWriter::DatabaseWriter() : impl_(std::make_unique<Impl>()) {
    impl_->new_page();  // 0: header
    impl_->reserve_map_row();  // page 1: usage maps
    impl_->new_page();  // 2: catalog definition
    impl_->catalog = impl_->make_table("MSysObjects",
                                       {{"Id", ColumnType::Long},
                                        {"ParentId", ColumnType::Long},
                                        {"Name", ColumnType::Text, 128},
                                        {"Type", ColumnType::Integer},
                                        {"Flags", ColumnType::Long},
                                        {"LvProp", ColumnType::Ole}},
                                       true, kCatalogPage);
}

DatabaseWriter::~DatabaseWriter() = default;

std::unique_ptr<TableWriter::Impl> DatabaseWriter::Impl::make_table(const std::string& name,
                                                                    const std::vector<Column>& columns, bool system,
                                                                    uint32_t fixed_def_page) {
    auto t = std::make_unique<TableWriter::Impl>();
    t->db = this;
    t->name = name;
    t->columns = columns;
    t->layout = make_layout(columns);
    t->system = system;
    const uint32_t def_pages = table_def_pages(table_def_length(t->layout));
    for (uint32_t k = 0; k < def_pages; ++k)
        t->def_pages.push_back(k == 0 && fixed_def_page ? fixed_def_page : new_page());
    t->data.owner = t->def_pages.front();
    t->data.owned_map = reserve_map_row();
    t->data.free_map = reserve_map_row();
    t->long_value_of.assign(columns.size(), -1);
    for (const ColumnLayout& c : t->layout.columns) {
        if (c.column.type != ColumnType::Memo) continue;
        PageStream s;
        s.owner = kLvalOwner;
        s.owned_map = reserve_map_row();
        s.free_map = reserve_map_row();
        t->long_value_of[c.number] = int(t->long_values.size());
        t->long_values.push_back(s);
    }
    return t;
}

TableWriter& DatabaseWriter::add_table(const std::string& name, const std::vector<Column>& columns) {
    if (impl_->finished) throw WriteError("the database has already been written");
    if (name.empty()) throw WriteError("a table needs a name");
    if (utf16_length_checked(name) > 64) throw WriteError("table name \"" + name + "\" is longer than 64 characters");
    if (name_key(name).starts_with("msys")) throw WriteError("table name \"" + name + "\" is reserved");
    if (impl_->names.contains(name_key(name))) throw WriteError("table \"" + name + "\" exists already");
    auto t = impl_->make_table(name, columns, false, 0);
    impl_->names.insert(name_key(name));
    impl_->tables.push_back(std::unique_ptr<TableWriter>(new TableWriter(t.get())));
    impl_->table_impls.push_back(std::move(t));
    return *impl_->tables.back();
}

void DatabaseWriter::Impl::fill_map(uint32_t pointer, const std::vector<uint32_t>& list) {
    write_usage_map(map_row(pointer), list, [this](Page*& p) {
        const uint32_t n = new_page();
        p = &page(n);
        return n;
    });
}

void DatabaseWriter::Impl::finish_table(TableWriter::Impl& t) {
    TableDefInfo info;
    info.row_count = uint32_t(t.rows);
    info.owned_map = t.data.owned_map;
    info.free_map = t.data.free_map;
    info.system = t.system;
    for (const ColumnLayout& c : t.layout.columns)
        if (c.column.type == ColumnType::Memo) {
            const PageStream& s = t.long_values[size_t(t.long_value_of[c.number])];
            info.long_value_maps.push_back({c.number, s.owned_map, s.free_map});
        }
    const std::vector<uint8_t> def = build_table_def(t.layout, info);
    std::vector<Page*> def_pages;
    for (uint32_t n : t.def_pages) def_pages.push_back(&page(n));
    place_table_def(def, def_pages, t.def_pages);

    // Free-space maps stay empty: every page was filled in order, new rows get new pages.
    fill_map(t.data.owned_map, t.data.pages);
    fill_map(t.data.free_map, {});
    for (const PageStream& s : t.long_values) {
        fill_map(s.owned_map, s.pages);
        fill_map(s.free_map, {});
    }
}

void DatabaseWriter::Impl::finish() {
    if (finished) return;
    TableWriter catalog_writer(catalog.get());
    catalog_writer.add_row({int64_t(kCatalogPage), int64_t(0), std::string("MSysObjects"), int64_t(kObjectTable),
                            int64_t(int32_t(kSystemFlags)), Null{}});
    for (const auto& t : table_impls)
        catalog_writer.add_row(
            {int64_t(t->def_pages.front()), int64_t(0), t->name, int64_t(kObjectTable), int64_t(0), Null{}});
    finished = true;
    finish_table(*catalog);
    for (const auto& t : table_impls) finish_table(*t);
    write_header_page(page(0), creation_date);
}

std::vector<uint8_t> DatabaseWriter::image() {
    impl_->finish();
    std::vector<uint8_t> out(impl_->pages.size() * kPageSize);
    for (size_t i = 0; i < impl_->pages.size(); ++i)
        std::memcpy(out.data() + i * kPageSize, impl_->pages[i]->data(), kPageSize);
    return out;
}

void DatabaseWriter::save(const std::filesystem::path& target) {
    impl_->finish();
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string name = ".";
    name += target.filename().string();
    name += ".tmp.";
    std::error_code ec;
    std::filesystem::path temp;
    platform::File file = platform::File::create_unique(dir, name, temp, ec);
    if (ec) throw Error("cannot create a file in " + dir.string() + ": " + ec.message());
    // The error is kept before the file is closed and removed.
    auto fail = [&](std::error_code err) {
        file.close();
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        throw Error("cannot write " + target.string() + ": " + err.message());
    };
    for (const auto& pg : impl_->pages)
        if ((ec = file.write_all(pg->data(), kPageSize))) fail(ec);
    using std::filesystem::perms;
    if ((ec = file.set_permissions(perms::owner_read | perms::owner_write | perms::group_read | perms::others_read)))
        fail(ec);
    if ((ec = file.sync()) || (ec = file.close())) fail(ec);
    std::filesystem::rename(temp, target, ec);
    if (ec) fail(ec);
}

}  // namespace ringolan::jet
