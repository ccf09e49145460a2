// Byte-level checks of the writer's building blocks, worked out by hand from the file layout.
#include <gtest/gtest.h>

#include "db/jet/header.h"
#include "db/jet/layout.h"
#include "db/jet/row_codec.h"
#include "db/jet/table_def.h"
#include "db/jet/usage_map.h"
#include "db/jet/value.h"
#include "db/jet/writer.h"

using namespace ringolan::jet;

namespace {

struct RecordingSink : LongValueSink {
    std::vector<std::vector<uint8_t>> rows;
    uint32_t store(uint16_t, std::span<const uint8_t> row) override {
        rows.emplace_back(row.begin(), row.end());
        return row_pointer(100, uint32_t(rows.size() - 1));
    }
};

std::vector<uint8_t> encode(const std::vector<Column>& cols, const Row& row, LongValueSink& sink) {
    const TableLayout l = make_layout(cols);
    return finish_row(l, prepare_row(l, row), sink);
}

}  // namespace

TEST(JetDates, DaysSince1899) {
    EXPECT_EQ(make_datetime(1899, 12, 30).days, 0.0);
    EXPECT_EQ(make_datetime(1900, 1, 1).days, 2.0);
    EXPECT_EQ(make_datetime(2000, 1, 1).days, 36526.0);
    EXPECT_EQ(make_datetime(2024, 2, 29, 12).days, 45351.5);
    EXPECT_EQ(make_datetime(1899, 12, 29).days, -1.0);

    DateTime d;
    ASSERT_TRUE(parse_datetime("2024-05-01 13:45:10", d));
    EXPECT_EQ(format_datetime(d), "2024-05-01 13:45:10");
    ASSERT_TRUE(parse_datetime("2024-12-31", d));
    EXPECT_EQ(format_datetime(d), "2024-12-31 00:00:00");
    for (const char* bad : {"2023-02-29 00:00:00", "2024-13-01", "2024-1-01", "2024-01-01 24:00:00",
                            "2024-01-01T10:00:00", "", "abcd-ef-gh"})
        EXPECT_FALSE(parse_datetime(bad, d)) << bad;
}

TEST(JetCurrency, ParsesDecimalsExactly) {
    Currency c;
    ASSERT_TRUE(parse_currency("12.3456", c));
    EXPECT_EQ(c.scaled, 123456);
    ASSERT_TRUE(parse_currency("-0.01", c));
    EXPECT_EQ(c.scaled, -100);
    ASSERT_TRUE(parse_currency("7", c));
    EXPECT_EQ(c.scaled, 70000);
    ASSERT_TRUE(parse_currency("0.10000", c));  // trailing zeros beyond four places are harmless
    EXPECT_EQ(c.scaled, 1000);
    ASSERT_TRUE(parse_currency("922337203685477.5807", c));
    EXPECT_EQ(c.scaled, INT64_MAX);
    for (const char* bad : {"1.23456", "922337203685477.5808", "", "-", "1e3", "1.2.3", "12,5"})
        EXPECT_FALSE(parse_currency(bad, c)) << bad;
    EXPECT_EQ(format_currency({-123456}), "-12.3456");
    EXPECT_EQ(format_currency({5}), "0.0005");
    EXPECT_EQ(format_currency({INT64_MIN}), "-922337203685477.5808");
}

TEST(JetRows, FixedVariableAndBooleanLayout) {
    RecordingSink sink;
    // Long at fixed offset 0, text "ab" as UCS-2, a true boolean in the null mask.
    const auto r = encode({{"n", ColumnType::Long}, {"t", ColumnType::Text, 5}, {"b", ColumnType::Boolean}},
                          {int64_t(7), std::string("ab"), true}, sink);
    const std::vector<uint8_t> expected = {0x03, 0x00,                    // column count
                                           0x07, 0x00, 0x00, 0x00,        // fixed area
                                           0x61, 0x00, 0x62, 0x00,        // "ab"
                                           0x0A, 0x00,                    // end of data
                                           0x06, 0x00,                    // offset of "t"
                                           0x01, 0x00,                    // variable count
                                           0x07};                         // null mask
    EXPECT_EQ(r, expected);
}

TEST(JetRows, NullsKeepFixedSpaceAndOffsetsRunBackwards) {
    RecordingSink sink;
    const auto r = encode({{"a", ColumnType::Text, 3},
                           {"d", ColumnType::Double},
                           {"b", ColumnType::Text, 3},
                           {"f", ColumnType::Boolean}},
                          {Null{}, Null{}, std::string("x"), false}, sink);
    const std::vector<uint8_t> expected = {0x04, 0x00,                                      // column count
                                           0, 0, 0, 0, 0, 0, 0, 0,                          // NULL double
                                           0x78, 0x00,                                      // "x"
                                           0x0C, 0x00,                                      // end of data
                                           0x0A, 0x00,                                      // offset of b
                                           0x0A, 0x00,                                      // offset of a (empty)
                                           0x02, 0x00,                                      // variable count
                                           0x04};                                           // only b present
    EXPECT_EQ(r, expected);
}

TEST(JetRows, TableWithoutVariableColumnsHasNoOffsets) {
    RecordingSink sink;
    const auto r = encode({{"i", ColumnType::Integer}, {"y", ColumnType::Byte}}, {int64_t(-2), int64_t(200)}, sink);
    EXPECT_EQ(r, (std::vector<uint8_t>{0x02, 0x00, 0xFE, 0xFF, 0xC8, 0x03}));
}

TEST(JetRows, MemoInlineSingleAndChained) {
    RecordingSink sink;
    const std::vector<Column> cols = {{"m", ColumnType::Memo}};
    auto r = encode(cols, {std::string(32, 'a')}, sink);  // 64 bytes: inline
    ASSERT_EQ(r.size(), 2u + 12 + 64 + 6 + 1);
    EXPECT_EQ(r[2], 64);
    EXPECT_EQ(r[5], 0x80);
    EXPECT_TRUE(sink.rows.empty());

    r = encode(cols, {std::string(33, 'a')}, sink);  // 66 bytes: one long-value row
    EXPECT_EQ(r[5], 0x40);
    ASSERT_EQ(sink.rows.size(), 1u);
    EXPECT_EQ(sink.rows[0].size(), 66u);
    EXPECT_EQ(get_u32(r.data() + 6), row_pointer(100, 0));

    sink.rows.clear();
    const std::string big(5000, 'q');  // 10000 bytes: pieces of 4072, 4072, 1856, stored last first
    r = encode(cols, {big}, sink);
    EXPECT_EQ(r[2] | r[3] << 8 | r[4] << 16, 10000);
    EXPECT_EQ(r[5], 0x00);
    ASSERT_EQ(sink.rows.size(), 3u);
    EXPECT_EQ(sink.rows[0].size(), 4u + 1856);
    EXPECT_EQ(get_u32(sink.rows[0].data()), 0u);
    EXPECT_EQ(get_u32(sink.rows[1].data()), row_pointer(100, 0));
    EXPECT_EQ(get_u32(sink.rows[2].data()), row_pointer(100, 1));
    EXPECT_EQ(get_u32(r.data() + 6), row_pointer(100, 2));
}

TEST(JetRows, TextStartingWithByteOrderMarkIsStoredCompressed) {
    EXPECT_EQ(encode_text(u"\uFEFFab"), (std::vector<uint8_t>{0xFF, 0xFE, 0x00, 0xFF, 0xFE, 0x00, 'a', 'b'}));
    EXPECT_EQ(encode_text(u"ab"), (std::vector<uint8_t>{'a', 0, 'b', 0}));
    EXPECT_THROW(encode_text(u"\uFEFF\u0100"), WriteError);
}

TEST(JetRows, RejectsValuesThatDoNotFit) {
    const TableLayout l = make_layout({{"y", ColumnType::Byte},
                                       {"i", ColumnType::Integer},
                                       {"l", ColumnType::Long},
                                       {"t", ColumnType::Text, 3},
                                       {"b", ColumnType::Boolean},
                                       {"s", ColumnType::Single},
                                       {"d", ColumnType::DateTime}});
    auto column_of = [&](Row row) {
        try {
            prepare_row(l, row);
        } catch (const WriteError& e) {
            return e.column();
        }
        return -2;
    };
    const Row ok = {int64_t(1), int64_t(1), int64_t(1), std::string("abc"), true, 1.0, make_datetime(2020, 1, 1)};
    EXPECT_EQ(column_of(ok), -2);
    auto with = [&](size_t i, Value v) {
        Row r = ok;
        r[i] = std::move(v);
        return r;
    };
    EXPECT_EQ(column_of(with(0, int64_t(256))), 0);
    EXPECT_EQ(column_of(with(0, int64_t(-1))), 0);
    EXPECT_EQ(column_of(with(1, int64_t(32768))), 1);
    EXPECT_EQ(column_of(with(2, int64_t(1) << 31)), 2);
    EXPECT_EQ(column_of(with(2, 1.5)), 2);
    EXPECT_EQ(column_of(with(3, std::string("abcd"))), 3);
    EXPECT_EQ(column_of(with(3, std::string("\xC3\x28"))), 3);  // malformed UTF-8
    EXPECT_EQ(column_of(with(3, int64_t(5))), 3);
    EXPECT_EQ(column_of(with(4, Null{})), 4);
    EXPECT_EQ(column_of(with(5, 1e39)), 5);
    EXPECT_EQ(column_of(with(6, std::string("2020-01-01"))), 6);
    EXPECT_EQ(column_of(Row{int64_t(1)}), -1);
    // Three characters fit a text(3) column even when each needs two UTF-8 bytes.
    EXPECT_EQ(column_of(with(3, std::string("äöü"))), -2);
}

TEST(JetRows, RejectsRowsLongerThanAPageAllows) {
    std::vector<Column> cols;
    for (int i = 0; i < 9; ++i) cols.push_back({"t" + std::to_string(i), ColumnType::Text, 255});
    const TableLayout l = make_layout(cols);
    Row row(9, std::string(255, 'x'));  // 9 * 510 bytes
    EXPECT_THROW(prepare_row(l, row), WriteError);
    row[8] = Null{};  // 8 * 510 = 4080 bytes of text alone is still too long
    EXPECT_THROW(prepare_row(l, row), WriteError);
    row[7] = Null{};  // 7 * 510 + 2 + 2 + 18 + 2 + 2 = 3596
    EXPECT_EQ(prepare_row(l, row).size, 3596u);
}

TEST(JetLayout, RejectsBadDefinitions) {
    EXPECT_THROW(make_layout({}), WriteError);
    EXPECT_THROW(make_layout({{"a", ColumnType::Text, 0}}), WriteError);
    EXPECT_THROW(make_layout({{"a", ColumnType::Text, 256}}), WriteError);
    EXPECT_THROW(make_layout({{"a", ColumnType::Long}, {"A", ColumnType::Long}}), WriteError);
    EXPECT_THROW(make_layout({{"", ColumnType::Long}}), WriteError);
    std::vector<Column> many(256, Column{"", ColumnType::Long});
    for (size_t i = 0; i < many.size(); ++i) many[i].name = "c" + std::to_string(i);
    EXPECT_THROW(make_layout(many), WriteError);
    many.pop_back();
    EXPECT_NO_THROW(make_layout(many));
}

TEST(JetTableDef, SplitsAcrossPagesWithContinuationHeaders) {
    EXPECT_EQ(table_def_pages(4096), 1u);
    EXPECT_EQ(table_def_pages(4097), 2u);
    EXPECT_EQ(table_def_pages(4096 + 4088), 2u);
    EXPECT_EQ(table_def_pages(4096 + 4089), 3u);

    std::vector<uint8_t> def(5000);
    for (size_t i = 0; i < def.size(); ++i) def[i] = uint8_t(i * 7);
    Page a, b;
    place_table_def(def, {&a, &b}, {10, 11});
    EXPECT_EQ(get_u32(a.data() + 4), 11u);
    EXPECT_EQ(b[0], kPageTableDef);
    EXPECT_EQ(get_u32(b.data() + 4), 0u);
    EXPECT_EQ(b[8], def[4096]);
    EXPECT_EQ(b[8 + 903], def[4999]);
}

TEST(JetUsageMap, InlineAndReferenceMapsListExactlyTheirPages) {
    std::vector<Page> extra;
    extra.reserve(20);
    std::vector<uint32_t> numbers;
    auto new_page = [&](Page*& p) {
        extra.emplace_back();
        p = &extra.back();
        numbers.push_back(900000 + uint32_t(extra.size()));
        return numbers.back();
    };
    auto page_at = [&](uint32_t n) -> const Page& { return extra.at(n - 900001); };

    uint8_t row[kMapRowSize];
    const std::vector<uint32_t> near = {3, 4, 9, 514};  // 514 - 3 < 512: inline
    write_usage_map(row, near, new_page);
    EXPECT_EQ(row[0], 0x00);
    EXPECT_EQ(get_u32(row + 1), 3u);
    EXPECT_EQ(map_pages(row, page_at), near);
    EXPECT_TRUE(extra.empty());

    const std::vector<uint32_t> far = {3, 515, kBitmapPagePages - 1, kBitmapPagePages, 5 * kBitmapPagePages + 17};
    write_usage_map(row, far, new_page);
    EXPECT_EQ(row[0], 0x01);
    EXPECT_EQ(extra.size(), 3u);  // slots 0, 1 and 5
    EXPECT_EQ(get_u32(row + 1 + 4 * 5), numbers[2]);
    EXPECT_EQ(extra[0][0], kPageUsageBitmap);
    EXPECT_EQ(map_pages(row, page_at), far);

    EXPECT_THROW(write_usage_map(row, {1, kReferenceSlots * kBitmapPagePages}, new_page), std::runtime_error);

    write_usage_map(row, {}, new_page);
    EXPECT_TRUE(map_pages(row, page_at).empty());
}

TEST(JetText, TheWriterRefusesStoredTextCutInsideACharacter) {
    for (const std::string& bytes : {std::string("a\0b", 3), std::string("\xFF\xFE" "a\0\xAC", 5)}) {
        const std::span<const uint8_t> stored(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_THROW(decode_text(stored), LayoutError);
        EXPECT_EQ(decode_text(stored, CutCharacter::Drop), u"a");
    }
}

TEST(JetHeader, MaskedRegionDecodesToJet4WithoutKey) {
    Page p;
    write_header_page(p, 45000.25);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 4)), "Standard Jet DB");
    EXPECT_EQ(p[0x14], 0x01);
    EXPECT_NE(get_u16(p.data() + 0x3C), 1252u);  // masked on disk
    unmask_header_page(p);
    EXPECT_EQ(get_u16(p.data() + 0x3C), 1252u);
    EXPECT_EQ(get_u32(p.data() + 0x3E), 0u);
    EXPECT_EQ(get_u16(p.data() + 0x6E), 0x0409u);
    EXPECT_EQ(get_u32(p.data() + 0x42), 45000u);  // password mask: no password
    EXPECT_EQ(get_u32(p.data() + 0x42 + 36), 45000u);
}
