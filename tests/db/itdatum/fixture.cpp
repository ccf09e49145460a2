#include "tests/db/itdatum/fixture.h"

#include <fstream>
#include <unistd.h>

#include "db/jet/page.h"
#include "db/jet/table_def.h"

namespace itdatum_test {

std::vector<uint8_t> file_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void put_bytes(const fs::path& p, const std::vector<uint8_t>& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

fs::path scratch(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path d = fs::temp_directory_path() / ("ringolan_itdatum_" + std::to_string(::getpid())) /
                 (std::string(info ? info->name() : "x") + "_" + name);
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

Demo make_demo_file(const fs::path& folder, bool with_itdatum, uint64_t seed) {
    ringolan::demo::DemoOptions o;
    o.shooters = 12;
    o.seed = seed;
    o.itdatum = with_itdatum;
    auto tables = ringolan::demo::make_demo(o);
    Demo d;
    d.file = folder / "wettkampf.mdb";
    ringolan::demo::write_demo(tables, d.file);
    for (auto& t : tables) d.tables.push_back(ExpectedTable{t.name, t.columns, t.rows});
    return d;
}

ExpectedTable& options_table(std::vector<ExpectedTable>& tables) {
    for (auto& t : tables)
        if (t.name == "Veranstaltung") return t;
    throw std::runtime_error("no Veranstaltung table");
}

size_t column_index(const ExpectedTable& t, const std::string& name) {
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].name == name) return i;
    throw std::runtime_error("no column " + name);
}

std::vector<uint32_t> differing_pages(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::vector<uint32_t> out;
    const size_t n = std::max(a.size(), b.size());
    for (size_t p = 0; p * jet::kPageSize < n; ++p) {
        const size_t at = p * jet::kPageSize;
        const bool in_a = at < a.size(), in_b = at < b.size();
        if (in_a != in_b || !std::equal(a.begin() + long(at), a.begin() + long(at + jet::kPageSize), b.begin() + long(at)))
            out.push_back(uint32_t(p));
    }
    return out;
}

uint32_t table_def_page(const fs::path& file, const std::u16string& column_a, const std::u16string& column_b) {
    const auto bytes = file_bytes(file);
    std::vector<jet::Page> pages(bytes.size() / jet::kPageSize);
    for (size_t i = 0; i < pages.size(); ++i)
        std::copy_n(bytes.begin() + long(i * jet::kPageSize), jet::kPageSize, pages[i].begin());
    auto src = [&](uint32_t n) -> const jet::Page& { return pages.at(n); };
    for (uint32_t p = 3; p < pages.size(); ++p) {
        if (pages[p][0] != jet::kPageTableDef || pages[p][40] != 0x4E) continue;
        const auto def = jet::read_table_def(p, src);
        if (def.column(column_a) && def.column(column_b)) return p;
    }
    throw std::runtime_error("table not found");
}

uint32_t stored_row_count(const fs::path& file, uint32_t tdef) {
    const auto bytes = file_bytes(file);
    return jet::get_u32(bytes.data() + size_t(tdef) * jet::kPageSize + 16);
}

void declare_index(const fs::path& file, uint32_t tdef, uint16_t column_number) {
    auto bytes = file_bytes(file);
    uint8_t* page = bytes.data() + size_t(tdef) * jet::kPageSize;
    ASSERT_EQ(jet::get_u32(page + 4), 0u) << "definition must be on one page";
    ASSERT_EQ(jet::get_u32(page + 51), 0u);
    const uint32_t len = jet::get_u32(page + 8);
    std::vector<uint8_t> d(page, page + len);
    const uint32_t ncols = jet::get_u16(&d[45]);
    // Per real index, before the columns: 12 bytes (unknown, row count, 0).
    d.insert(d.begin() + 63, 12, 0);
    size_t at = 63 + 12 + 25 * size_t(ncols);
    for (uint32_t i = 0; i < ncols; ++i) at += 2 + jet::get_u16(&d[at]);
    // Real index: 4 unknown, ten (column, order) slots, usage map, first page, flags, 9 unknown.
    std::vector<uint8_t> real(52, 0);
    for (int k = 0; k < 10; ++k) jet::put_u16(&real[4 + 3 * k], 0xFFFF);
    jet::put_u16(&real[4], column_number);
    real[6] = 0x01;  // ascending
    real[42] = 0x01;  // unique
    // Logical index: 4 unknown, number, real index number, relationship fields, type 1 = primary key.
    std::vector<uint8_t> logical(28, 0);
    logical[27] = 0x01;
    const std::u16string name = u"PrimaryKey";
    std::vector<uint8_t> nm(2 + 2 * name.size());
    jet::put_u16(nm.data(), uint32_t(2 * name.size()));
    for (size_t k = 0; k < name.size(); ++k) jet::put_u16(&nm[2 + 2 * k], name[k]);
    std::vector<uint8_t> add = real;
    add.insert(add.end(), logical.begin(), logical.end());
    add.insert(add.end(), nm.begin(), nm.end());
    d.insert(d.begin() + long(at), add.begin(), add.end());
    ASSERT_LE(d.size(), jet::kPageSize);
    jet::put_u32(&d[8], uint32_t(d.size()));
    jet::put_u16(&d[2], uint32_t(jet::kPageSize - d.size() - 8));
    jet::put_u32(&d[47], 1);
    jet::put_u32(&d[51], 1);
    std::fill(page, page + jet::kPageSize, 0);
    std::copy(d.begin(), d.end(), page);
    put_bytes(file, bytes);
}

}  // namespace itdatum_test
