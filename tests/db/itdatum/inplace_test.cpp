// The time-stamp row written in place: update, append, refusals, untouched bytes, recovery.
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "db/jet/inplace.h"
#include "db/jet/journal.h"
#include "db/jet/page.h"
#include "db/jet/table_def.h"
#include "tests/db/itdatum/fixture.h"

using namespace itdatum_test;
using ringolan::jet::InPlaceResult;
using ringolan::jet::OptionRow;
using ringolan::readback::expect_file_reads_back;

namespace {

// Sets Wert_str of the option row named `option` in the expected tables, or appends the row
// the way the upload does: only Option and Wert_str set.
void expect_option(std::vector<ExpectedTable>& tables, const std::string& option, const std::string& text) {
    ExpectedTable& t = options_table(tables);
    const size_t opt = column_index(t, "Option"), val = column_index(t, "Wert_str");
    for (auto& row : t.rows)
        if (row[opt] == jet::Value(option)) {
            row[val] = text;
            return;
        }
    jet::Row row(t.columns.size(), jet::Null{});
    row[opt] = option;
    row[val] = text;
    t.rows.push_back(row);
}

std::string long_text(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += char('a' + i % 26);
    return s;
}

}  // namespace

TEST(ItdatumUpdate, SameLengthAndLongerTextChangeOnlyTheRowsPage) {
    auto dir = scratch("upd");
    Demo demo = make_demo_file(dir, true);
    const auto before = file_bytes(demo.file);

    // Same length as the demo's "dd.mm.yyyy hh:mm:ss": overwritten where it stands.
    auto r = jet::write_itdatum(demo.file, "09.12.2026 03:10:00");
    ASSERT_EQ(r.kind, InPlaceResult::Kind::Updated) << r.reason;
    expect_option(demo.tables, "itdatum", "09.12.2026 03:10:00");
    expect_file_reads_back(demo.file, demo.tables);
    auto after = file_bytes(demo.file);
    ASSERT_EQ(after.size(), before.size());
    auto diff = differing_pages(before, after);
    ASSERT_EQ(diff.size(), 1u);
    EXPECT_EQ(after[size_t(diff[0]) * jet::kPageSize], jet::kPageData);
    EXPECT_FALSE(fs::exists(jet::journal_path(demo.file)));

    // A much longer text (the rows below it on the page move) and then a shorter one.
    for (const std::string& text : {long_text(250) + "ÄÖÜ€", std::string("9.12.26")}) {
        const auto prev = file_bytes(demo.file);
        r = jet::write_itdatum(demo.file, text);
        ASSERT_EQ(r.kind, InPlaceResult::Kind::Updated) << r.reason;
        expect_option(demo.tables, "itdatum", text);
        expect_file_reads_back(demo.file, demo.tables);
        const auto now = file_bytes(demo.file);
        EXPECT_EQ(differing_pages(prev, now), diff) << "only the row's page changes";
    }
}

TEST(ItdatumAppend, MissingRowIsAppendedThenUpdated) {
    auto dir = scratch("app");
    Demo demo = make_demo_file(dir, false);
    const auto before = file_bytes(demo.file);
    auto r = jet::write_itdatum(demo.file, "01.02.2027 12:00:01");
    ASSERT_EQ(r.kind, InPlaceResult::Kind::Appended) << r.reason;
    expect_option(demo.tables, "itdatum", "01.02.2027 12:00:01");
    expect_file_reads_back(demo.file, demo.tables);
    const uint32_t tdef = table_def_page(demo.file, u"Option", u"Wert_str");
    EXPECT_EQ(stored_row_count(demo.file, tdef), options_table(demo.tables).rows.size());
    const auto after = file_bytes(demo.file);
    // The data page that took the row and the definition page with the row count.
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(differing_pages(before, after).size(), 2u);

    r = jet::write_itdatum(demo.file, "02.02.2027");
    ASSERT_EQ(r.kind, InPlaceResult::Kind::Updated) << r.reason;
    expect_option(demo.tables, "itdatum", "02.02.2027");
    expect_file_reads_back(demo.file, demo.tables);
}

TEST(ItdatumAppend, FullPageGetsANewPageListedInTheTablesMap) {
    auto dir = scratch("full");
    Demo demo = make_demo_file(dir, false);
    const size_t pages_before = file_bytes(demo.file).size() / jet::kPageSize;
    // Long rows until the table's page is full and another page is needed.
    size_t n = 0;
    while (file_bytes(demo.file).size() / jet::kPageSize == pages_before) {
        ASSERT_LT(n, 40u) << "the table's page never filled up";
        OptionRow target;
        target.key = "zusatz" + std::to_string(n);
        const std::string text = std::to_string(n) + long_text(240);
        auto r = jet::write_option_row(demo.file, target, text);
        ASSERT_EQ(r.kind, InPlaceResult::Kind::Appended) << r.reason;
        expect_option(demo.tables, target.key, text);
        ++n;
    }
    EXPECT_EQ(file_bytes(demo.file).size() / jet::kPageSize, pages_before + 1);
    auto r = jet::write_itdatum(demo.file, "03.03.2027 03:03:03");
    ASSERT_TRUE(r.written()) << r.reason;
    expect_option(demo.tables, "itdatum", "03.03.2027 03:03:03");
    expect_file_reads_back(demo.file, demo.tables);
    const uint32_t tdef = table_def_page(demo.file, u"Option", u"Wert_str");
    EXPECT_EQ(stored_row_count(demo.file, tdef), options_table(demo.tables).rows.size());
}

TEST(ItdatumRefusal, LockFileOrOurOwnWriterLeaveTheFileUntouched) {
    auto dir = scratch("ldb");
    Demo demo = make_demo_file(dir, true);
    const auto before = file_bytes(demo.file);
    for (const char* name : {"wettkampf.ldb", "wettkampf.LDB"}) {
        put_bytes(dir / name, {0});
        auto r = jet::write_itdatum(demo.file, "09.12.2026 03:10:00");
        EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
        EXPECT_NE(r.reason.find("another program"), std::string::npos) << r.reason;
        EXPECT_EQ(file_bytes(demo.file), before);
        fs::remove(dir / name);
    }
    // A lock file of another database in the same folder does not count.
    put_bytes(dir / "anderer.ldb", {0});
    EXPECT_TRUE(jet::jet_lock_file(demo.file).empty());

    const int fd = ::open(demo.file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    auto r = jet::write_itdatum(demo.file, "09.12.2026 03:10:00");
    EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
    EXPECT_EQ(jet::recover(demo.file), jet::Recovery::Nothing);
    ::close(fd);
    EXPECT_EQ(file_bytes(demo.file), before);
    EXPECT_TRUE(jet::write_itdatum(demo.file, "09.12.2026 03:10:00").written());
}

TEST(ItdatumRefusal, TextsThatCannotBeStored) {
    auto dir = scratch("text");
    Demo demo = make_demo_file(dir, true);
    const auto before = file_bytes(demo.file);
    for (const std::string& bad : {long_text(256), std::string("\xC3\x28"), std::string("\xEF\xBB\xBF" "x")}) {
        auto r = jet::write_itdatum(demo.file, bad);
        EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
        EXPECT_FALSE(r.reason.empty());
        EXPECT_EQ(file_bytes(demo.file), before);
    }
    auto r = jet::write_option_row(demo.file, OptionRow{"Veranstaltung", "Option", "itdatum", "Wert_int"}, "1");
    EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
    EXPECT_NE(r.reason.find("not a text column"), std::string::npos) << r.reason;
    r = jet::write_option_row(demo.file, OptionRow{"Gibtsnicht", "Option", "itdatum", "Wert_str"}, "1");
    EXPECT_NE(r.reason.find("no table Gibtsnicht"), std::string::npos) << r.reason;
    EXPECT_EQ(file_bytes(demo.file), before);
}

TEST(ItdatumIndexes, IndexedTableTakesAnUpdateButRefusesAnAppend) {
    for (bool with_row : {true, false}) {
        auto dir = scratch(with_row ? "idx_row" : "idx_norow");
        Demo demo = make_demo_file(dir, with_row);
        const uint32_t tdef = table_def_page(demo.file, u"Option", u"Wert_str");
        declare_index(demo.file, tdef, 0);  // primary key on ID
        expect_file_reads_back(demo.file, demo.tables);
        const auto before = file_bytes(demo.file);
        auto r = jet::write_itdatum(demo.file, "10.12.2026 20:00:00");
        if (with_row) {
            ASSERT_EQ(r.kind, InPlaceResult::Kind::Updated) << r.reason;
            expect_option(demo.tables, "itdatum", "10.12.2026 20:00:00");
            expect_file_reads_back(demo.file, demo.tables);
            EXPECT_EQ(differing_pages(before, file_bytes(demo.file)).size(), 1u);
        } else {
            EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
            EXPECT_NE(r.reason.find("indexes (ID)"), std::string::npos) << r.reason;
            EXPECT_EQ(file_bytes(demo.file), before);
        }
    }
    // An index on the value column itself: even the update is refused.
    auto dir = scratch("idx_value");
    Demo demo = make_demo_file(dir, true);
    declare_index(demo.file, table_def_page(demo.file, u"Option", u"Wert_str"), 3);
    const auto before = file_bytes(demo.file);
    auto r = jet::write_itdatum(demo.file, "10.12.2026 20:00:00");
    EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
    EXPECT_NE(r.reason.find("Wert_str is indexed"), std::string::npos) << r.reason;
    EXPECT_EQ(file_bytes(demo.file), before);
}

TEST(ItdatumIndexes, AccessMadeFileWithIndexesIsLeftAlone) {
    auto dir = scratch("access");
    const fs::path src = fs::path(RINGOLAN_BINARY_DIR) / "tests/data/mdb-reader-V2000/test.mdb";
    const fs::path file = dir / "test.mdb";
    fs::copy_file(src, file);
    const auto before = file_bytes(file);
    // Table1 has an index on A and one on B.
    auto r = jet::write_option_row(file, OptionRow{"Table1", "A", "a", "B"}, "neu");
    EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
    EXPECT_NE(r.reason.find("B is indexed"), std::string::npos) << r.reason;
    r = jet::write_option_row(file, OptionRow{"table1", "B", "nicht da", "A"}, "neu");
    EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
    EXPECT_NE(r.reason.find("A is indexed"), std::string::npos) << r.reason;
    // Table3 (a long, b text) has no text index but an index all the same: no append.
    r = jet::write_option_row(file, OptionRow{"Table3", "b", "x", "b"}, "neu");
    EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
    EXPECT_NE(r.reason.find("index"), std::string::npos) << r.reason;
    EXPECT_EQ(file_bytes(file), before);
}

TEST(ItdatumJournal, CompleteJournalRollsBackIncompleteOneIsDropped) {
    auto dir = scratch("journal");
    Demo demo = make_demo_file(dir, true);
    const auto before = file_bytes(demo.file);
    ASSERT_TRUE(jet::write_itdatum(demo.file, "11.12.2026 11:11:11").written());
    const auto after = file_bytes(demo.file);
    const auto changed = differing_pages(before, after);
    ASSERT_EQ(changed.size(), 1u);

    // A journal holding the old page, as left by a write that stopped after writing the page.
    std::vector<jet::PageImage> old(1);
    old[0].number = changed[0];
    std::copy_n(before.begin() + long(changed[0] * jet::kPageSize), jet::kPageSize, old[0].bytes.begin());
    jet::write_journal(demo.file, before.size(), old, {});
    EXPECT_EQ(jet::recover(demo.file), jet::Recovery::RolledBack);
    EXPECT_EQ(file_bytes(demo.file), before);
    EXPECT_FALSE(fs::exists(jet::journal_path(demo.file)));

    // Cut short anywhere (even one byte short of complete): the file is not rolled back.
    jet::write_journal(demo.file, before.size(), old, {});
    const auto journal = file_bytes(jet::journal_path(demo.file));
    put_bytes(demo.file, after);
    for (size_t cut : {size_t(0), size_t(10), journal.size() / 2, journal.size() - 1}) {
        put_bytes(jet::journal_path(demo.file), std::vector<uint8_t>(journal.begin(), journal.begin() + long(cut)));
        EXPECT_EQ(jet::recover(demo.file), jet::Recovery::DiscardedPartial) << cut;
        EXPECT_EQ(file_bytes(demo.file), after);
        EXPECT_FALSE(fs::exists(jet::journal_path(demo.file)));
    }
    // A damaged page image does not pass its checksum.
    auto damaged = journal;
    damaged[100] ^= 0x01;
    put_bytes(jet::journal_path(demo.file), damaged);
    EXPECT_EQ(jet::recover(demo.file), jet::Recovery::DiscardedPartial);
    EXPECT_EQ(file_bytes(demo.file), after);

    // An appended page is cut off again by the rollback (the journal keeps the old size).
    Demo fresh = make_demo_file(scratch("journal_grow"), false);
    const auto small = file_bytes(fresh.file);
    auto grown = small;
    grown.resize(small.size() + jet::kPageSize, 0x55);
    put_bytes(fresh.file, grown);
    jet::write_journal(fresh.file, small.size(), {}, {});
    EXPECT_EQ(jet::recover(fresh.file), jet::Recovery::RolledBack);
    EXPECT_EQ(file_bytes(fresh.file), small);
}

TEST(ItdatumUpdate, CompressibleColumnStoresTheOneByteForm) {
    auto dir = scratch("compressed");
    Demo demo = make_demo_file(dir, true);
    // Mark Wert_str (fourth column entry) as allowing compressed text, as Access-made files do.
    auto bytes = file_bytes(demo.file);
    const uint32_t tdef = table_def_page(demo.file, u"Option", u"Wert_str");
    bytes[size_t(tdef) * jet::kPageSize + 63 + 25 * 3 + 16] |= 0x01;
    put_bytes(demo.file, bytes);
    const auto before = file_bytes(demo.file);

    const std::string text = "13.12.2026 08:00:00";
    auto r = jet::write_itdatum(demo.file, text);
    ASSERT_EQ(r.kind, InPlaceResult::Kind::Updated) << r.reason;
    expect_option(demo.tables, "itdatum", text);
    expect_file_reads_back(demo.file, demo.tables);
    // FF FE and one byte per character now stand in the changed page.
    const auto after = file_bytes(demo.file);
    const auto diff = differing_pages(before, after);
    ASSERT_EQ(diff.size(), 1u);
    std::vector<uint8_t> stored = {0xFF, 0xFE};
    stored.insert(stored.end(), text.begin(), text.end());
    const auto page = after.begin() + long(diff[0] * jet::kPageSize);
    EXPECT_NE(std::search(page, page + jet::kPageSize, stored.begin(), stored.end()), page + jet::kPageSize);

    // A character beyond one byte falls back to two bytes per character.
    r = jet::write_itdatum(demo.file, "13.12.2026 ☺");
    ASSERT_EQ(r.kind, InPlaceResult::Kind::Updated) << r.reason;
    expect_option(demo.tables, "itdatum", "13.12.2026 ☺");
    expect_file_reads_back(demo.file, demo.tables);
}

TEST(ItdatumAppend, NewPageIsTakenFromTheFileWidePageMap) {
    auto dir = scratch("global");
    Demo demo = make_demo_file(dir, false);
    // Fill the table's page until the next long row needs a new page.
    const std::string text = long_text(250);
    for (int n = 0;; ++n) {
        ASSERT_LT(n, 40);
        const auto backup = file_bytes(demo.file);
        OptionRow target;
        target.key = "fill" + std::to_string(n);
        ASSERT_TRUE(jet::write_option_row(demo.file, target, text).written());
        if (file_bytes(demo.file).size() > backup.size()) {
            put_bytes(demo.file, backup);
            break;
        }
        expect_option(demo.tables, target.key, text);
    }
    const auto full = file_bytes(demo.file);
    const uint32_t next_page = uint32_t(full.size() / jet::kPageSize);
    jet::Page p1;
    std::copy_n(full.begin() + jet::kPageSize, jet::kPageSize, p1.begin());
    const uint32_t map_at = jet::kPageSize + jet::row_span(p1, 0).start;
    ASSERT_EQ(full[map_at], 0x00) << "an inline map";
    ASSERT_EQ(jet::get_u32(&full[map_at + 1]), 0u);

    // The map calls the page beyond the end free: the append marks it used.
    auto marked = full;
    marked[map_at + 5 + next_page / 8] |= uint8_t(1u << (next_page % 8));
    put_bytes(demo.file, marked);
    auto r = jet::write_option_row(demo.file, OptionRow{"Veranstaltung", "Option", "neu", "Wert_str"}, text);
    ASSERT_EQ(r.kind, InPlaceResult::Kind::Appended) << r.reason;
    const auto after = file_bytes(demo.file);
    ASSERT_EQ(after.size(), full.size() + jet::kPageSize);
    EXPECT_EQ(after[map_at + 5 + next_page / 8] & (1u << (next_page % 8)), 0);
    expect_option(demo.tables, "neu", text);
    expect_file_reads_back(demo.file, demo.tables);

    // A map whose range starts after the new page cannot take it: refused, file untouched.
    auto moved = full;
    jet::put_u32(&moved[map_at + 1], next_page + 1);
    put_bytes(demo.file, moved);
    r = jet::write_option_row(demo.file, OptionRow{"Veranstaltung", "Option", "neu", "Wert_str"}, text);
    EXPECT_EQ(r.kind, InPlaceResult::Kind::Refused);
    EXPECT_NE(r.reason.find("does not cover"), std::string::npos) << r.reason;
    EXPECT_EQ(file_bytes(demo.file), moved);
}

TEST(ItdatumUpdate, AccessMadeRowIsUpdatedInPlace) {
    // test.mdb's Table1 has indexes on A and B; move the one on B to the byte column C so that
    // B may be written, keeping the file otherwise as Access made it.
    auto dir = scratch("access_update");
    const fs::path file = dir / "test.mdb";
    fs::copy_file(fs::path(RINGOLAN_BINARY_DIR) / "tests/data/mdb-reader-V2000/test.mdb", file);
    auto bytes = file_bytes(file);
    const uint32_t tdef = table_def_page(file, u"A", u"B");
    uint8_t* d = bytes.data() + size_t(tdef) * jet::kPageSize;
    ASSERT_EQ(jet::get_u32(d + 51), 2u);
    size_t at = 63 + 12 * 2 + 25 * 9;
    for (int i = 0; i < 9; ++i) at += 2 + jet::get_u16(d + at);
    ASSERT_EQ(jet::get_u16(d + at + 52 + 4), 1u) << "second index is on column 1 (B)";
    jet::put_u16(d + at + 52 + 4, 2);
    put_bytes(file, bytes);

    auto expected = ringolan::readback::canon_from_libmdb(file);
    const auto before = file_bytes(file);
    auto r = jet::write_option_row(file, OptionRow{"Table1", "A", "a", "B"}, "ein längerer Text");
    ASSERT_EQ(r.kind, InPlaceResult::Kind::Updated) << r.reason;
    EXPECT_EQ(differing_pages(before, file_bytes(file)).size(), 1u);
    for (auto& t : expected) {
        if (t.name != "Table1") continue;
        ASSERT_EQ(t.rows.size(), 2u);
        ASSERT_EQ(t.rows[1][0], "\"a\"");
        t.rows[1][1] = "\"ein längerer Text\"";
    }
    ringolan::readback::expect_same_tables(expected, ringolan::readback::canon_from_libmdb(file), "libmdb");
    ringolan::readback::expect_same_tables(expected, ringolan::readback::canon_from_mdbreader(file), "mdb-reader");
}
