#include "db/mdbread/field_decode.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <unordered_set>

#include "common/cp1252.h"
#include "common/error.h"
#include "db/jet/table_def.h"

namespace ringolan::mdbread::detail {
namespace {

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t le64(const unsigned char* p) { return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32; }

std::string hex32(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

bool is_jet3(const MdbHandle* mdb) { return mdb->f->jet_version == MDB_VER_JET3; }

// Text in the file's code page (Jet 3), converted by libmdb.
std::string jet3_text_to_utf8(MdbHandle* mdb, const unsigned char* p, size_t n) {
    if (n == 0) return {};
    std::string out(n * 4 + 16, '\0');
    int len = mdb_unicode2ascii(mdb, reinterpret_cast<const char*>(p), n, out.data(), out.size());
    out.resize(len > 0 ? static_cast<size_t>(len) : 0);
    return out;
}

std::string text_to_utf8(MdbHandle* mdb, const unsigned char* p, size_t n) {
    return is_jet3(mdb) ? jet3_text_to_utf8(mdb, p, n) : jet4_text_to_utf8(p, n);
}

// One row of a long-value page; mdb_find_pg_row reads the page into mdb->alt_pg_buf.
std::string_view long_value_row(MdbHandle* mdb, uint32_t pg_row) {
    void* buf = nullptr;
    int off = 0;
    size_t len = 0;
    bool found = pg_row >> 8 != 0 && mdb_find_pg_row(mdb, static_cast<int>(pg_row), &buf, &off, &len) == 0;
    // mdb_find_row does not compare the row number with the page's row count; do it here.
    if (found) {
        const auto* page = static_cast<const unsigned char*>(buf);
        found = page[0] == MDB_PAGE_DATA &&
                (pg_row & 0xFF) < static_cast<uint32_t>(mdb_get_int16(buf, mdb->fmt->row_count_offset));
    }
    if (!found) {
        throw Error("long-value row " + std::to_string(pg_row & 0xFF) + " on page " +
                                 std::to_string(pg_row >> 8) + " not found");
    }
    return {static_cast<const char*>(buf) + off, len};
}

// Converts libmdb's g_malloc'ed text and frees it.
std::string take_gstring(char* s) {
    std::unique_ptr<char, decltype(&g_free)> holder(s, &g_free);
    return s ? std::string(s) : std::string();
}

void need(const MdbField& f, int bytes) {
    if (f.siz < bytes) {
        throw Error("field of " + std::to_string(f.siz) + " bytes, expected " + std::to_string(bytes));
    }
}

}  // namespace

std::string jet4_text_to_utf8(const unsigned char* p, size_t n) {
    return text::utf16_to_utf8(jet::decode_text(std::span<const uint8_t>(p, n), jet::CutCharacter::Drop));
}

std::string to_hex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out(n * 2, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[p[i] >> 4];
        out[2 * i + 1] = digits[p[i] & 0xF];
    }
    return out;
}

std::string read_long_value(MdbHandle* mdb, int start, int size) {
    if (size == 0) return {};
    if (size < MDB_MEMO_OVERHEAD) {
        throw Error("long-value header of " + std::to_string(size) + " bytes");
    }
    const unsigned char* head = mdb->pg_buf + start;
    const uint32_t word = le32(head);
    const uint32_t length = word & 0x00FFFFFF;
    const uint32_t flags = word >> 24;
    const uint32_t pg_row = le32(head + 4);

    if (flags & 0x80) {  // inline: the bytes follow the header
        return std::string(reinterpret_cast<const char*>(head) + MDB_MEMO_OVERHEAD, size - MDB_MEMO_OVERHEAD);
    }
    if (flags & 0x40) {  // one row on a long-value page
        std::string_view row = long_value_row(mdb, pg_row);
        if (row.size() < length) {
            throw Error("long-value row of " + std::to_string(row.size()) + " bytes for a value of " +
                                     std::to_string(length));
        }
        return std::string(row.substr(0, length));
    }
    if (flags != 0) throw Error("unknown long-value header " + hex32(word));

    // A chain of rows, each starting with the pointer to the next.
    std::string out;
    out.reserve(length);
    std::unordered_set<uint32_t> seen;
    uint32_t next = pg_row;
    while (out.size() < length) {
        if (next == 0) {
            throw Error("long-value chain ends after " + std::to_string(out.size()) + " of " +
                                     std::to_string(length) + " bytes");
        }
        if (!seen.insert(next).second) throw Error("long-value chain loops");
        std::string_view row = long_value_row(mdb, next);
        if (row.size() < 4) throw Error("long-value row shorter than its pointer");
        next = le32(reinterpret_cast<const unsigned char*>(row.data()));
        row.remove_prefix(4);
        out.append(row.substr(0, length - out.size()));
    }
    return out;
}

jet::Value decode_field(MdbHandle* mdb, const MdbColumn& col, const MdbField& f) {
    if (col.col_type == MDB_BOOL) return !f.is_null;  // a boolean is its null-mask bit
    if (f.is_null) return jet::Null{};
    // libmdb does not catch every inconsistent offset table; keep reads inside the page.
    if (f.siz < 0 || f.start < 0 || f.start + f.siz > mdb->fmt->pg_size) {
        throw Error("field at offset " + std::to_string(f.start) + " with " + std::to_string(f.siz) +
                                 " bytes lies outside its page");
    }
    const unsigned char* p = mdb->pg_buf + f.start;
    switch (col.col_type) {
        case MDB_BYTE:
            need(f, 1);
            return int64_t{p[0]};
        case MDB_INT:
            need(f, 2);
            return int64_t{static_cast<int16_t>(p[0] | p[1] << 8)};
        case MDB_LONGINT:
            need(f, 4);
            return int64_t{static_cast<int32_t>(le32(p))};
        case MDB_MONEY:
            need(f, 8);
            return jet::Currency{static_cast<int64_t>(le64(p))};
        case MDB_FLOAT: {
            need(f, 4);
            uint32_t bits = le32(p);
            float v;
            std::memcpy(&v, &bits, sizeof v);
            return static_cast<double>(v);
        }
        case MDB_DOUBLE:
        case MDB_DATETIME: {
            need(f, 8);
            uint64_t bits = le64(p);
            double v;
            std::memcpy(&v, &bits, sizeof v);
            if (col.col_type == MDB_DATETIME) return jet::DateTime{v};
            return v;
        }
        case MDB_TEXT:
            return text_to_utf8(mdb, p, f.siz);
        case MDB_MEMO: {
            std::string bytes = read_long_value(mdb, f.start, f.siz);
            return text_to_utf8(mdb, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        }
        case MDB_OLE: {
            std::string bytes = read_long_value(mdb, f.start, f.siz);
            return to_hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        }
        case MDB_NUMERIC:
            need(f, 17);
            return take_gstring(mdb_numeric_to_string(mdb, f.start, col.col_scale, col.col_prec));
        case MDB_REPID:
            need(f, 16);
            return take_gstring(mdb_col_to_string(mdb, mdb->pg_buf, f.start, MDB_REPID, f.siz));
        case MDB_COMPLEX:
            need(f, 4);
            return take_gstring(mdb_col_to_string(mdb, mdb->pg_buf, f.start, MDB_COMPLEX, f.siz));
        default:  // binary and types libmdb does not know
            return to_hex(p, f.siz);
    }
}

}  // namespace ringolan::mdbread::detail
