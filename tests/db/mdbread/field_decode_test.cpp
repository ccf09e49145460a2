// Field decoding on hand-made pages: a minimal Jet 4 image in memory opened with libmdb, so
// long-value rows can be placed exactly where a test wants them.
#include "db/mdbread/field_decode.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

using namespace ringolan;
using namespace ringolan::mdbread::detail;

namespace {

constexpr size_t kPage = 4096;

// RC4 key stream; page 0 bytes 0x18..0x97 are stored XORed with it (key C7 DA 39 6B).
std::vector<uint8_t> rc4_stream(const std::array<uint8_t, 4>& key, size_t n) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    std::vector<uint8_t> out(n);
    for (size_t k = 0, i = 0, j = 0; k < n; ++k) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        out[k] = s[(s[i] + s[j]) & 0xFF];
    }
    return out;
}

void put16(uint8_t* p, unsigned v) {
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
}

uint32_t pg_row(uint32_t page, uint32_t row) { return page << 8 | row; }

// A Jet 4 image: page 0 whose encrypted area decodes to zeros (database key 0), then
// long-value pages, each holding the rows given.
class Image {
public:
    Image() : bytes_(kPage, 0) {
        std::memcpy(bytes_.data() + 4, "Standard Jet DB", 16);
        bytes_[0x14] = 0x01;  // Jet 4
        const auto stream = rc4_stream({0xC7, 0xDA, 0x39, 0x6B}, 128);
        std::memcpy(bytes_.data() + 0x18, stream.data(), stream.size());
    }

    // Appends a long-value page with the given rows; returns its page number.
    uint32_t add_page(const std::vector<std::string>& rows) {
        const uint32_t page = static_cast<uint32_t>(bytes_.size() / kPage);
        bytes_.resize(bytes_.size() + kPage, 0);
        uint8_t* p = bytes_.data() + page * kPage;
        p[0] = 0x01;
        p[1] = 0x01;
        std::memcpy(p + 4, "LVAL", 4);
        put16(p + 12, static_cast<unsigned>(rows.size()));
        size_t end = kPage;
        for (size_t i = 0; i < rows.size(); ++i) {
            end -= rows[i].size();
            std::memcpy(p + end, rows[i].data(), rows[i].size());
            put16(p + 14 + 2 * i, static_cast<unsigned>(end));
        }
        return page;
    }

    MdbHandle* open() {
        MdbHandle* mdb = mdb_open_buffer(bytes_.data(), bytes_.size(), MDB_NOFLAGS);
        if (!mdb) throw std::runtime_error("libmdb refused the test image");
        return mdb;
    }

private:
    std::vector<uint8_t> bytes_;
};

std::string chain_row(uint32_t next, const std::string& data) {
    std::string row(4, '\0');
    put32(reinterpret_cast<uint8_t*>(row.data()), next);
    return row + data;
}

std::string header(uint32_t length, uint8_t flags, uint32_t pointer) {
    std::string h(12, '\0');
    put32(reinterpret_cast<uint8_t*>(h.data()), length | uint32_t{flags} << 24);
    put32(reinterpret_cast<uint8_t*>(h.data()) + 4, pointer);
    return h;
}

std::string pattern(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed * 13) % 251);
    return s;
}

std::string ucs2(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

class FieldDecode : public testing::Test {
protected:
    void open() { mdb_ = image_.open(); }
    void TearDown() override {
        if (mdb_) mdb_close(mdb_);
    }
    // Puts bytes into the current page buffer at offset 200 and returns the field there.
    MdbField place(const std::string& bytes, bool is_null = false) {
        std::memcpy(mdb_->pg_buf + 200, bytes.data(), bytes.size());
        MdbField f{};
        f.start = 200;
        f.siz = static_cast<int>(bytes.size());
        f.is_null = is_null;
        return f;
    }
    jet::Value decode(int type, const std::string& bytes, bool is_null = false) {
        MdbColumn col{};
        col.col_type = type;
        return decode_field(mdb_, col, place(bytes, is_null));
    }
    std::string long_value(const std::string& bytes) {
        MdbField f = place(bytes);
        return read_long_value(mdb_, f.start, f.siz);
    }

    Image image_;
    MdbHandle* mdb_ = nullptr;
};

}  // namespace

TEST(JetText, UncompressedAndCompressedForms) {
    auto text = [](const std::string& b) {
        return jet4_text_to_utf8(reinterpret_cast<const unsigned char*>(b.data()), b.size());
    };
    EXPECT_EQ(text(ucs2(u"Müller")), "Müller");
    EXPECT_EQ(text(""), "");
    EXPECT_EQ(text("\xFF\xFE" "M\xFCller"), "Müller");  // one byte per character
    // 0x00 switches to two bytes per character (€ = U+20AC) and back.
    EXPECT_EQ(text(std::string("\xFF\xFE" "a\0\xAC\x20\0b", 8)), "a€b");
    EXPECT_EQ(text(std::string("\xFF\xFE\0\x3C\xD8\xAF\xDF", 7)), "🎯");  // a surrogate pair
    // In two-byte mode a 0x00 byte still switches back: 3D D8 00 DE is U+D83D, then Þ.
    EXPECT_EQ(text(std::string("\xFF\xFE\0\x3D\xD8\x00\xDE", 7)), "?Þ");
    EXPECT_EQ(text(ucs2(u"x\U0001F3AF")), "x🎯");
    EXPECT_EQ(text(ucs2(std::u16string(1, char16_t(0xD800)) + u"a")), "?a");  // unpaired surrogate
    EXPECT_EQ(text(ucs2(u"ab") + "c"), "ab");  // an odd last byte is dropped
    EXPECT_EQ(text(std::string("\xFF\xFE" "a\0\xAC", 5)), "a");  // so is half a wide character
    EXPECT_EQ(text("\xFF\xFE"), "");
}

TEST_F(FieldDecode, FixedSizeNumbersFromTheirBytes) {
    open();
    EXPECT_EQ(decode(MDB_BYTE, "\xFF"), jet::Value(int64_t{255}));
    EXPECT_EQ(decode(MDB_INT, std::string("\x00\x80", 2)), jet::Value(int64_t{-32768}));
    EXPECT_EQ(decode(MDB_INT, "\xFF\x7F"), jet::Value(int64_t{32767}));
    EXPECT_EQ(decode(MDB_LONGINT, "\xFF\xFF\xFF\xFF"), jet::Value(int64_t{-1}));
    EXPECT_EQ(decode(MDB_LONGINT, std::string("\x00\x00\x00\x80", 4)), jet::Value(int64_t{INT32_MIN}));
    // -12345678 = 0xFFFFFFFFFF439EB2
    EXPECT_EQ(decode(MDB_MONEY, "\xB2\x9E\x43\xFF\xFF\xFF\xFF\xFF"), jet::Value(jet::Currency{-12345678}));
    EXPECT_EQ(decode(MDB_MONEY, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F"), jet::Value(jet::Currency{INT64_MAX}));
    // 0x3DCCCCCD is the float32 nearest 0.1; it must stay that float, not become 0.1.
    EXPECT_EQ(decode(MDB_FLOAT, "\xCD\xCC\xCC\x3D"), jet::Value(static_cast<double>(0.1f)));
    EXPECT_EQ(decode(MDB_DOUBLE, std::string("\0\0\0\0\0\0\xF0\x3F", 8)), jet::Value(1.0));
    EXPECT_EQ(decode(MDB_DOUBLE, std::string("\0\0\0\0\0\0\x04\xC0", 8)), jet::Value(-2.5));
    EXPECT_EQ(decode(MDB_DATETIME, std::string("\0\0\0\0\0\0\xE0\x3F", 8)), jet::Value(jet::DateTime{0.5}));
}

TEST_F(FieldDecode, NullBooleanTextAndOtherTypes) {
    open();
    EXPECT_EQ(decode(MDB_LONGINT, "\x01\x00\x00\x00", true), jet::Value(jet::Null{}));
    EXPECT_EQ(decode(MDB_TEXT, "", true), jet::Value(jet::Null{}));
    EXPECT_EQ(decode(MDB_TEXT, ""), jet::Value(std::string()));  // "" is not NULL
    EXPECT_EQ(decode(MDB_TEXT, ucs2(u"Straße")), jet::Value(std::string("Straße")));
    // A boolean is its null-mask bit: "not null" means true.
    EXPECT_EQ(decode(MDB_BOOL, "", false), jet::Value(true));
    EXPECT_EQ(decode(MDB_BOOL, "", true), jet::Value(false));
    EXPECT_EQ(decode(MDB_MEMO, header(4, 0x80, 0) + ucs2(u"Hi")), jet::Value(std::string("Hi")));
    EXPECT_EQ(decode(MDB_MEMO, header(6, 0x80, 0) + "\xFF\xFE" "\xE4\xF6\xFC\xDF"), jet::Value(std::string("äöüß")));
    EXPECT_EQ(decode(MDB_MEMO, ""), jet::Value(std::string()));
    EXPECT_EQ(decode(MDB_OLE, header(3, 0x80, 0) + std::string("\x01\xAB\x00", 3)), jet::Value(std::string("01ab00")));
    EXPECT_EQ(decode(MDB_BINARY, "\x10\xFE"), jet::Value(std::string("10fe")));
}

TEST_F(FieldDecode, DamagedFieldsAreRejected) {
    open();
    EXPECT_THROW(decode(MDB_LONGINT, "\x01\x02"), std::runtime_error);
    EXPECT_THROW(decode(MDB_DOUBLE, "1234567"), std::runtime_error);
    EXPECT_THROW(decode(MDB_MONEY, ""), std::runtime_error);
    MdbColumn col{};
    col.col_type = MDB_TEXT;
    MdbField f = place("ab");
    f.siz = -4;  // libmdb can produce this from a damaged offset table
    EXPECT_THROW(decode_field(mdb_, col, f), std::runtime_error);
    f.siz = 10;
    f.start = 4090;
    EXPECT_THROW(decode_field(mdb_, col, f), std::runtime_error);
}

TEST_F(FieldDecode, LongValuesInlineOnOneRowAndInChains) {
    const std::string single = pattern(3000, 1);
    const uint32_t p1 = image_.add_page({single, "short"});
    // A chain of 40 rows of 2,000 bytes (80,000 bytes, more than 64 KiB), two rows per page.
    std::vector<std::string> parts;
    for (int i = 0; i < 40; ++i) parts.push_back(pattern(2000, i + 2));
    std::vector<uint32_t> pages;
    for (int k = 0; k < 20; ++k) {
        const uint32_t next_a = pg_row(p1 + 1 + k, 1);
        const uint32_t next_b = k + 1 < 20 ? pg_row(p1 + 2 + k, 0) : 0;
        pages.push_back(image_.add_page({chain_row(next_a, parts[2 * k]), chain_row(next_b, parts[2 * k + 1])}));
    }
    std::string whole;
    for (const auto& part : parts) whole += part;
    open();
    const std::vector<uint8_t> before(mdb_->pg_buf, mdb_->pg_buf + kPage);

    EXPECT_EQ(long_value(header(5, 0x80, 0) + "hello"), "hello");
    EXPECT_EQ(long_value(header(3000, 0x40, pg_row(p1, 0))), single);
    EXPECT_EQ(long_value(header(2000, 0x40, pg_row(p1, 0))), single.substr(0, 2000));
    EXPECT_EQ(long_value(header(5, 0x40, pg_row(p1, 1))), "short");
    const std::string chained = long_value(header(80000, 0x00, pg_row(pages[0], 0)));
    EXPECT_EQ(chained.size(), 80000u);
    EXPECT_TRUE(chained == whole);
    // A declared length shorter than the chain takes only that many bytes.
    EXPECT_TRUE(long_value(header(4500, 0x00, pg_row(pages[0], 0))) == whole.substr(0, 4500));

    // The current page was left in place around the reads (only the header was written).
    std::vector<uint8_t> after(mdb_->pg_buf, mdb_->pg_buf + kPage);
    std::memcpy(after.data() + 200, before.data() + 200, 40);
    EXPECT_TRUE(after == before);
}

TEST_F(FieldDecode, DamagedLongValuesAreRejected) {
    const uint32_t p1 = image_.add_page({"abc", chain_row(0, "tail")});
    const uint32_t p2 = image_.add_page({chain_row(pg_row(p1 + 1, 0), "xy")});
    EXPECT_EQ(p2, p1 + 1);
    open();
    auto fails = [&](const std::string& bytes, const std::string& part) {
        try {
            long_value(bytes);
            ADD_FAILURE() << "no error, expected one about " << part;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    fails(header(10, 0x40, pg_row(p1, 0)), "long-value row of 3 bytes");
    fails(header(10, 0x00, pg_row(p1, 1)), "chain ends after 4 of 10 bytes");
    fails(header(100, 0x00, pg_row(p2, 0)), "chain loops");
    fails(header(10, 0x40, pg_row(50, 0)), "not found");  // beyond the end of the file
    fails(header(10, 0x40, pg_row(p1, 7)), "not found");  // no such row
    fails(header(10, 0x40, pg_row(0, 0)), "not found");
    fails(header(10, 0x20, 0), "unknown long-value header");
    fails("\x01\x02\x03", "header of 3 bytes");
}
