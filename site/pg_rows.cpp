#include "site/pg_rows.h"

#include <charconv>

namespace ringolan::site::pg {

namespace {

char kind_letter(StoredValue::Kind k) {
    switch (k) {
        case StoredValue::Kind::null: return 'n';
        case StoredValue::Kind::integer: return 'i';
        case StoredValue::Kind::real: return 'r';
        case StoredValue::Kind::text: return 't';
    }
    return 'n';
}

void append_number(std::string& out, std::int64_t n) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

// Appends text, escaped for COPY's text format when in_copy; runs without such characters go
// in whole.
void append_text(std::string& out, std::string_view text, bool in_copy) {
    if (!in_copy) {
        out += text;
        return;
    }
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* escaped;
        switch (text[i]) {
            case '\\': escaped = "\\\\"; break;
            case '\n': escaped = "\\n"; break;
            case '\r': escaped = "\\r"; break;
            case '\t': escaped = "\\t"; break;
            default: continue;
        }
        out.append(text.data() + from, i - from);
        out.append(escaped, 2);
        from = i + 1;
    }
    out.append(text.data() + from, text.size() - from);
}

}  // namespace

void RowEncoder::append(std::string& out, const std::vector<ValueView>& values, bool in_copy) {
    if (rooms_.size() < values.size()) rooms_.resize(values.size());
    texts_.clear();
    std::size_t used = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        texts_.push_back(value_text(values[i], rooms_[i]));
        if (texts_.back().kind != StoredValue::Kind::null) used = i + 1;
    }
    for (std::size_t i = 0; i < used; ++i) {
        const ValueText& v = texts_[i];
        out += kind_letter(v.kind);
        if (v.kind == StoredValue::Kind::null) continue;
        append_number(out, std::int64_t(v.text.size()));
        out += ':';
        append_text(out, v.text, in_copy);
    }
}

void RowEncoder::copy_line(std::string& out, std::int64_t table_id, std::int64_t seq,
                           const std::vector<ValueView>& values) {
    append_number(out, table_id);
    out += '\t';
    append_number(out, seq);
    out += '\t';
    append(out, values, true);
    out += '\n';
}

std::string RowEncoder::row_text(const std::vector<ValueView>& values) {
    std::string out;
    append(out, values, false);
    return out;
}

void parse_row(std::string_view text, std::size_t width, std::vector<StoredValueView>& row) {
    auto bad = [] { return StoreError("PostgreSQL: a stored row does not read back"); };
    row.clear();
    for (std::size_t at = 0; at < text.size();) {
        StoredValueView v;
        switch (text[at++]) {
            case 'n':
                row.emplace_back();
                continue;
            case 'i': v.kind = StoredValue::Kind::integer; break;
            case 'r': v.kind = StoredValue::Kind::real; break;
            case 't': v.kind = StoredValue::Kind::text; break;
            default: throw bad();
        }
        std::size_t length = 0;
        const auto [colon, ec] = std::from_chars(text.data() + at, text.data() + text.size(), length);
        at = std::size_t(colon - text.data());
        if (ec != std::errc() || at >= text.size() || text[at] != ':' || text.size() - at - 1 < length) throw bad();
        const std::string_view digits = text.substr(at + 1, length);
        const char* end = digits.data() + digits.size();
        if (v.kind == StoredValue::Kind::integer) std::from_chars(digits.data(), end, v.integer);
        else if (v.kind == StoredValue::Kind::real) std::from_chars(digits.data(), end, v.real);
        else v.text = digits;
        at += 1 + length;
        row.push_back(v);
    }
    if (row.size() < width) row.resize(width);
}

std::vector<StoredValue> parse_row(std::string_view text, std::size_t width) {
    std::vector<StoredValueView> views;
    parse_row(text, width, views);
    std::vector<StoredValue> row;
    row.reserve(views.size());
    for (const StoredValueView& v : views) row.push_back(v.held());
    return row;
}

}  // namespace ringolan::site::pg
