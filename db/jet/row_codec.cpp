#include "db/jet/row_codec.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <limits>
#include <string>

#include "db/jet/page.h"
#include "db/jet/utf16.h"
#include "db/jet/writer.h"

namespace ringolan::jet {
namespace {

constexpr size_t kMaxLongValue = 0xFFFFFF;  // the memo header holds a 3-byte length
constexpr size_t kMemoHeader = 12;

[[noreturn]] void fail(const ColumnLayout& c, const std::string& what) {
    throw WriteError("column \"" + c.column.name + "\" (" + std::string(type_name(c.column.type)) + "): " + what,
                     c.number);
}

std::string describe(const Value& v) {
    struct V {
        std::string operator()(Null) const { return "NULL"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const {
            char buf[32];
            auto r = std::to_chars(buf, buf + sizeof buf, d);
            return std::string(buf, r.ptr);
        }
        std::string operator()(Currency c) const { return format_currency(c); }
        std::string operator()(DateTime d) const { return format_datetime(d); }
        std::string operator()(const std::string& s) const { return "text \"" + s + "\""; }
    };
    return std::visit(V{}, v);
}

int64_t integer_value(const ColumnLayout& c, const Value& v, int64_t lo, int64_t hi) {
    int64_t i;
    if (auto p = std::get_if<int64_t>(&v)) {
        i = *p;
    } else if (auto d = std::get_if<double>(&v); d && std::trunc(*d) == *d && std::fabs(*d) < 9.2e18) {
        i = int64_t(*d);
    } else {
        fail(c, "expects a whole number, got " + describe(v));
    }
    if (i < lo || i > hi) fail(c, describe(v) + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    return i;
}

double real_value(const ColumnLayout& c, const Value& v) {
    double d;
    if (auto p = std::get_if<double>(&v)) d = *p;
    else if (auto i = std::get_if<int64_t>(&v)) d = double(*i);
    else fail(c, "expects a number, got " + describe(v));
    if (!std::isfinite(d)) fail(c, "expects a finite number");
    return d;
}

Currency currency_value(const ColumnLayout& c, const Value& v) {
    if (auto p = std::get_if<Currency>(&v)) return *p;
    if (auto i = std::get_if<int64_t>(&v)) {
        if (*i > std::numeric_limits<int64_t>::max() / 10000 || *i < std::numeric_limits<int64_t>::min() / 10000)
            fail(c, describe(v) + " is out of range");
        return Currency{*i * 10000};
    }
    if (auto d = std::get_if<double>(&v)) {
        // The shortest decimal that reads back as this double is the number that was meant.
        char buf[32];
        auto r = std::to_chars(buf, buf + sizeof buf, *d, std::chars_format::fixed);
        Currency out;
        if (r.ec != std::errc() || !parse_currency(std::string_view(buf, size_t(r.ptr - buf)), out))
            fail(c, describe(v) + " does not fit (at most four decimals, |value| < 922337203685477)");
        return out;
    }
    fail(c, "expects a currency amount, got " + describe(v));
}

void put_fixed(const ColumnLayout& c, const Value& v, uint8_t* p) {
    switch (c.column.type) {
        case ColumnType::Byte: p[0] = uint8_t(integer_value(c, v, 0, 255)); break;
        case ColumnType::Integer: put_u16(p, uint32_t(integer_value(c, v, -32768, 32767))); break;
        case ColumnType::Long: put_u32(p, uint32_t(integer_value(c, v, INT32_MIN, INT32_MAX))); break;
        case ColumnType::Currency: put_u64(p, uint64_t(currency_value(c, v).scaled)); break;
        case ColumnType::Single: {
            const double d = real_value(c, v);
            if (std::fabs(d) > std::numeric_limits<float>::max()) fail(c, describe(v) + " is out of range");
            put_f32(p, float(d));
            break;
        }
        case ColumnType::Double: put_f64(p, real_value(c, v)); break;
        case ColumnType::DateTime: {
            auto dt = std::get_if<DateTime>(&v);
            if (!dt) fail(c, "expects a date and time, got " + describe(v));
            if (!std::isfinite(dt->days)) fail(c, "expects a finite date");
            put_f64(p, dt->days);
            break;
        }
        default: break;
    }
}

std::vector<uint8_t> variable_bytes(const ColumnLayout& c, const Value& v) {
    if (c.column.type == ColumnType::Ole) fail(c, "long binary values are not supported");
    auto s = std::get_if<std::string>(&v);
    if (!s) fail(c, "expects text, got " + describe(v));
    std::u16string u;
    try {
        u = utf8_to_utf16_checked(*s);
    } catch (const WriteError&) {
        fail(c, "malformed UTF-8 text");
    }
    if (c.column.type == ColumnType::Text && u.size() > size_t(c.column.size))
        fail(c, "text of " + std::to_string(u.size()) + " characters is longer than " +
                    std::to_string(c.column.size));
    std::vector<uint8_t> bytes;
    try {
        bytes = encode_text(u);
    } catch (const WriteError& e) {
        fail(c, e.what());
    }
    if (bytes.size() > kMaxLongValue) fail(c, "memo longer than " + std::to_string(kMaxLongValue) + " bytes");
    return bytes;
}

// Bytes a memo value takes inside the row.
size_t memo_in_row(size_t length) { return kMemoHeader + (length <= kMemoInlineMax ? length : 0); }

}  // namespace

std::vector<uint8_t> encode_text(const std::u16string& u) {
    std::vector<uint8_t> out;
    if (u.empty() || u[0] != 0xFEFF) {
        out.resize(u.size() * 2);
        for (size_t i = 0; i < u.size(); ++i) put_u16(out.data() + 2 * i, u[i]);
        return out;
    }
    // Starting with FF FE the readers take the text as compressed: one-byte characters
    // in compressed mode, two-byte ones otherwise, a zero byte switching modes.
    out = {0xFF, 0xFE};
    bool compressed = true;
    for (char16_t ch : u) {
        if (ch != 0 && ch < 0x100) {
            if (!compressed) out.push_back(0);
            compressed = true;
            out.push_back(uint8_t(ch));
        } else {
            if ((ch & 0xFF) == 0) throw WriteError("text starting with U+FEFF cannot hold a character ending in 00");
            if (compressed) out.push_back(0);
            compressed = false;
            out.push_back(uint8_t(ch));
            out.push_back(uint8_t(ch >> 8));
        }
    }
    return out;
}

PreparedRow prepare_row(const TableLayout& layout, const Row& row) {
    if (row.size() != layout.columns.size())
        throw WriteError("row has " + std::to_string(row.size()) + " values, the table has " +
                         std::to_string(layout.columns.size()) + " columns");
    PreparedRow p;
    p.fixed.assign(layout.fixed_size, 0);
    p.variable.resize(layout.var_count);
    p.present.assign(layout.columns.size(), false);
    size_t var_bytes = 0;
    for (const ColumnLayout& c : layout.columns) {
        const Value& v = row[c.number];
        const bool null = std::holds_alternative<Null>(v);
        if (c.column.type == ColumnType::Boolean) {
            if (null) fail(c, "a yes/no column cannot hold NULL");
            auto b = std::get_if<bool>(&v);
            if (!b) fail(c, "expects true or false, got " + describe(v));
            p.present[c.number] = *b;
            continue;
        }
        if (null) continue;
        p.present[c.number] = true;
        if (c.variable) {
            p.variable[c.var_index] = variable_bytes(c, v);
            const size_t n = p.variable[c.var_index].size();
            var_bytes += c.column.type == ColumnType::Memo ? memo_in_row(n) : n;
        } else {
            put_fixed(c, v, p.fixed.data() + c.fixed_offset);
        }
    }
    const size_t mask = (layout.columns.size() + 7) / 8;
    p.size = 2 + layout.fixed_size + var_bytes + (layout.var_count ? 2 + 2 * layout.var_count + 2 : 0) + mask;
    if (p.size > kMaxRowSize)
        throw WriteError("row of " + std::to_string(p.size) + " bytes is longer than " + std::to_string(kMaxRowSize));
    return p;
}

std::vector<uint8_t> finish_row(const TableLayout& layout, PreparedRow&& p, LongValueSink& sink) {
    std::vector<uint8_t> r;
    r.reserve(p.size);
    r.resize(2);
    put_u16(r.data(), uint32_t(layout.columns.size()));
    r.insert(r.end(), p.fixed.begin(), p.fixed.end());

    std::vector<uint16_t> offsets(layout.var_count);
    for (const ColumnLayout& c : layout.columns) {
        if (!c.variable) continue;
        offsets[c.var_index] = uint16_t(r.size());
        if (!p.present[c.number]) continue;
        std::vector<uint8_t>& data = p.variable[c.var_index];
        if (c.column.type != ColumnType::Memo) {
            r.insert(r.end(), data.begin(), data.end());
            continue;
        }
        uint8_t head[kMemoHeader] = {};
        const uint32_t len = uint32_t(data.size());
        head[0] = uint8_t(len);
        head[1] = uint8_t(len >> 8);
        head[2] = uint8_t(len >> 16);
        if (len <= kMemoInlineMax) {
            head[3] = 0x80;
            r.insert(r.end(), head, head + kMemoHeader);
            r.insert(r.end(), data.begin(), data.end());
            continue;
        }
        if (len <= kLvalSingleMax) {
            head[3] = 0x40;
            put_u32(head + 4, sink.store(c.number, data));
        } else {
            // A chain: each piece starts with the pointer to the next; stored last piece first.
            uint32_t next = 0;
            const size_t pieces = (len + kLvalChunkData - 1) / kLvalChunkData;
            for (size_t k = pieces; k-- > 0;) {
                const size_t from = k * kLvalChunkData;
                const size_t n = std::min<size_t>(kLvalChunkData, len - from);
                std::vector<uint8_t> piece(4 + n);
                put_u32(piece.data(), next);
                std::copy_n(data.begin() + long(from), n, piece.begin() + 4);
                next = sink.store(c.number, piece);
            }
            head[3] = 0x00;
            put_u32(head + 4, next);
        }
        r.insert(r.end(), head, head + kMemoHeader);
    }
    if (layout.var_count) {
        const uint16_t eod = uint16_t(r.size());
        const size_t at = r.size();
        r.resize(at + 2 + 2 * layout.var_count + 2);
        put_u16(r.data() + at, eod);
        for (size_t i = 0; i < layout.var_count; ++i)
            put_u16(r.data() + at + 2 + 2 * (layout.var_count - 1 - i), offsets[i]);
        put_u16(r.data() + at + 2 + 2 * layout.var_count, layout.var_count);
    }
    const size_t mask_at = r.size();
    r.resize(mask_at + (layout.columns.size() + 7) / 8, 0);
    for (size_t i = 0; i < p.present.size(); ++i)
        if (p.present[i]) r[mask_at + i / 8] |= uint8_t(1u << (i % 8));
    return r;
}

}  // namespace ringolan::jet
