#include "db/jet/inplace.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "common/cp1252.h"
#include "common/error.h"
#include "db/jet/file_pages.h"
#include "db/jet/header.h"
#include "db/jet/page_edit.h"
#include "db/jet/table_def.h"
#include "db/jet/table_rows.h"
#include "db/jet/utf16.h"
#include "db/jet/value.h"
#include "db/jet/writer.h"
#include "platform/file.h"

namespace ringolan::jet {
namespace {

namespace fs = std::filesystem;

// A reason to leave the file alone; caught at the top and returned as a refusal.
[[noreturn]] void refuse(const std::string& reason) { throw Unsupported(reason); }

struct Located {
    uint32_t page = 0, row = 0;
};

const DefColumn& text_column(const TableDef& def, const std::string& table, const std::string& name) {
    const DefColumn* c = def.column(utf8_to_utf16_checked(name));
    if (!c) refuse("table " + table + " has no column " + name);
    if (c->type != uint8_t(ColumnType::Text) || !c->variable())
        refuse("column " + name + " of table " + table + " is not a text column");
    return *c;
}

std::string index_list(const TableDef& def) {
    std::string out;
    for (const auto& cols : def.index_columns) {
        std::string one;
        for (uint16_t n : cols)
            for (const DefColumn& c : def.columns)
                if (c.number == n) one += (one.empty() ? "" : "+") + text::utf16_to_utf8(c.name);
        out += (out.empty() ? "" : ", ") + one;
    }
    return out;
}

// A new row with only the key and value columns set, laid out by the table's definition.
std::vector<uint8_t> build_row(const TableDef& def, const DefColumn& key, std::span<const uint8_t> key_bytes,
                               const DefColumn& value, std::span<const uint8_t> value_bytes) {
    const size_t n = def.columns.size();
    std::vector<bool> seen(n, false), seen_var(def.var_columns, false);
    size_t fixed = 0;
    for (const DefColumn& c : def.columns) {
        if (c.number >= n || seen[c.number]) refuse("the table's column numbers have gaps (columns were deleted)");
        seen[c.number] = true;
        if (c.flags & kColumnAutoNumber)
            refuse("column " + text::utf16_to_utf8(c.name) + " is an auto-number (not supported for a new row)");
        if (c.variable()) {
            if (c.var_index >= def.var_columns || seen_var[c.var_index]) throw LayoutError("variable column indexes out of order");
            seen_var[c.var_index] = true;
        } else if (c.type != uint8_t(ColumnType::Boolean)) {  // booleans live in the null mask
            fixed = std::max<size_t>(fixed, size_t(c.fixed_offset) + c.length);
        }
    }
    if (def.max_columns != n) refuse("the table's column numbers have gaps (columns were deleted)");
    std::vector<uint8_t> r(2 + fixed, 0);
    put_u16(r.data(), uint32_t(n));
    std::vector<uint16_t> offsets(def.var_columns);
    for (uint16_t vi = 0; vi < def.var_columns; ++vi) {
        offsets[vi] = uint16_t(r.size());
        std::span<const uint8_t> data;
        if (key.var_index == vi) data = key_bytes;
        if (value.var_index == vi) data = value_bytes;
        r.insert(r.end(), data.begin(), data.end());
    }
    if (def.var_columns) {
        const uint16_t eod = uint16_t(r.size());
        const size_t at = r.size();
        r.resize(at + 4 + 2 * size_t(def.var_columns));
        put_u16(&r[at], eod);
        for (size_t i = 0; i < def.var_columns; ++i) put_u16(&r[at + 2 + 2 * (def.var_columns - 1 - i)], offsets[i]);
        put_u16(&r[at + 2 + 2 * size_t(def.var_columns)], def.var_columns);
    }
    const size_t mask = r.size();
    r.resize(mask + (n + 7) / 8, 0);
    r[mask + key.number / 8] |= uint8_t(1u << (key.number % 8));
    r[mask + value.number / 8] |= uint8_t(1u << (value.number % 8));
    return r;
}

InPlaceResult::Kind plan(FilePages& pages, const OptionRow& target, const std::u16string& text) {
    const Page& head = pages.original(0);
    if (std::memcmp(head.data() + kHeaderSignature, kJetSignature, sizeof kJetSignature - 1) != 0 ||
        head[kHeaderVersion] != kJetVersion4)
        refuse("the file is not a Jet 4 database");
    Page unmasked = head;
    unmask_header_page(unmasked);
    if (get_u32(unmasked.data() + kHeaderDatabaseKey) != 0) refuse("the file is encrypted (not supported)");

    const uint32_t tdef = find_table(pages, utf8_to_utf16_checked(target.table));
    const TableDef def = read_table_def(tdef, pages.source());
    const DefColumn& key = text_column(def, target.table, target.key_column);
    const DefColumn& value = text_column(def, target.table, target.value_column);
    if (def.indexed(value.number))
        refuse("column " + target.value_column + " is indexed; changing it needs index maintenance (not supported)");
    if (text.size() * 2 > value.length)
        refuse("the text is longer than column " + target.value_column + " allows");
    const std::u16string key16 = utf8_to_utf16_checked(target.key);
    const std::vector<uint8_t> stored = store_text(value, text);

    std::optional<Located> at;
    std::vector<uint8_t> updated;
    scan_rows(def, pages, [&](uint32_t p, uint32_t r, const RowView& v) {
        auto k = v.text(key);
        if (!k || *k != key16) return false;
        at = Located{p, r};
        updated = v.with_variable(value, stored);
        return true;
    });
    if (at) {
        if (!replace_row(pages.change(at->page), at->row, updated))
            refuse("the new text does not fit on the page of the existing row");
        return InPlaceResult::Kind::Updated;
    }

    if (def.real_indexes > 0)
        refuse("table " + target.table + " has indexes (" + index_list(def) +
               "); entering a new row into them is not supported, so no row was appended");
    const std::vector<uint8_t> row = build_row(def, key, store_text(key, key16), value, stored);
    append_table_row(pages, def, row, RowPlace::any_page);
    return InPlaceResult::Kind::Appended;
}

void write_page(platform::File& file, uint32_t n, const Page& p, const fs::path& db) {
    if (const std::error_code ec = file.write_all_at(p.data(), kPageSize, uint64_t(n) * kPageSize))
        throw Error("cannot write " + db.string() + ": " + ec.message());
}

}  // namespace

fs::path jet_lock_file(const fs::path& db) {
    std::error_code ec;
    const fs::path folder = db.parent_path().empty() ? fs::path(".") : db.parent_path();
    const std::string stem = db.stem().string();
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const fs::path p = e.path();
        std::string ext = p.extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (ext == ".ldb" && p.stem().string() == stem) return p;
    }
    return {};
}

InPlaceResult write_option_row(const fs::path& db, const OptionRow& target, const std::string& text,
                               const InPlaceOptions& options) {
    auto refused = [](std::string why) { return InPlaceResult{InPlaceResult::Kind::Refused, std::move(why)}; };
    std::error_code ec;
    platform::File file = platform::File::open(db, platform::File::Access::read_write, ec);
    if (ec) return refused("cannot open " + db.string() + ": " + ec.message());
    const platform::File::Lock lock = file.try_lock_exclusive(ec);
    if (lock == platform::File::Lock::busy) return refused("another process of ours is writing the file");
    if (lock == platform::File::Lock::failed) return refused("cannot lock the file: " + ec.message());
    recover_locked(db, file);
    auto held = [&] {
        const fs::path lock = jet_lock_file(db);
        return lock.empty() ? std::string() : "the file is open in another program (lock file " + lock.filename().string() + ")";
    };
    if (auto why = held(); !why.empty()) return refused(why);

    platform::FileState st;
    if ((ec = file.state(st))) return refused("cannot read the file: " + ec.message());
    if (st.size < 3 * kPageSize || st.size % kPageSize != 0) return refused("the file size is not a whole number of pages");
    FilePages pages(file, st.size);
    InPlaceResult result;
    try {
        std::u16string text16;
        try {
            text16 = utf8_to_utf16_checked(text);
        } catch (const WriteError&) {
            refuse("the text is not valid UTF-8");
        }
        result.kind = plan(pages, target, text16);
    } catch (const Unsupported& r) {
        return refused(r.what());
    } catch (const LayoutError& e) {
        return refused(std::string("unexpected file layout: ") + e.what());
    } catch (const WriteError& e) {
        return refused(e.what());
    }
    if (auto why = held(); !why.empty()) return refused(why);

    std::vector<PageImage> originals;
    for (const auto& [n, page] : pages.changed())
        if (n < pages.count()) originals.push_back(PageImage{n, pages.original(n)});
    try {
        write_journal(db, st.size, originals, options.hook);
    } catch (const std::runtime_error& e) {
        // Not one page of the file was written: drop what there is of the journal.
        std::error_code ec;
        fs::remove(journal_path(db), ec);
        return refused(std::string("cannot write the journal: ") + e.what());
    }
    try {
        for (const auto& [n, page] : pages.changed()) {
            write_page(file, n, page, db);
            if (options.hook) options.hook("page write");
        }
        if ((ec = file.sync())) throw Error("cannot sync " + db.string() + ": " + ec.message());
        if (options.hook) options.hook("file sync");
    } catch (const std::runtime_error& e) {
        // Put the old pages back now; if that fails too, the journal stays for the next open.
        recover_locked(db, file);
        return refused(std::string(e.what()) + " (the file was restored)");
    }
    remove_journal(db, options.hook);
    return result;
}

InPlaceResult write_itdatum(const fs::path& db, const std::string& text, const InPlaceOptions& options) {
    return write_option_row(db, OptionRow{}, text, options);
}

}  // namespace ringolan::jet
