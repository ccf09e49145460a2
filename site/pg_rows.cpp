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

// Appends an array element; in_copy also escapes it for COPY's text format.
void append_element(std::string& out, const ValueText& v, bool in_copy) {
    if (v.kind == StoredValue::Kind::null) {
        out += "NULL";
        return;
    }
    if (v.kind != StoredValue::Kind::text) {
        out += v.text;  // digits, sign, ".", "e": nothing to quote
        return;
    }
    out += '"';
    for (const char c : v.text) {
        switch (c) {
            case '\\': out += in_copy ? "\\\\\\\\" : "\\\\"; break;
            case '"': out += in_copy ? "\\\\\"" : "\\\""; break;
            case '\n': out += in_copy ? "\\n" : "\n"; break;
            case '\r': out += in_copy ? "\\r" : "\r"; break;
            case '\t': out += in_copy ? "\\t" : "\t"; break;
            default: out += c;
        }
    }
    out += '"';
}

}  // namespace

std::size_t RowEncoder::convert(const std::vector<ValueView>& values) {
    if (rooms_.size() < values.size()) rooms_.resize(values.size());
    texts_.clear();
    std::size_t used = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        texts_.push_back(value_text(values[i], rooms_[i]));
        if (texts_.back().kind != StoredValue::Kind::null) used = i + 1;
    }
    return used;
}

void RowEncoder::copy_line(std::string& out, std::int64_t table_id, std::int64_t seq,
                           const std::vector<ValueView>& values) {
    const std::size_t n = convert(values);
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, table_id).ptr);
    out += '\t';
    out.append(digits, std::to_chars(digits, digits + sizeof digits, seq).ptr);
    out += "\t{";
    for (std::size_t i = 0; i < n; ++i) {
        if (i) out += ',';
        append_element(out, texts_[i], true);
    }
    out += "}\t";
    for (std::size_t i = 0; i < n; ++i) out += kind_letter(texts_[i].kind);
    out += '\n';
}

RowText RowEncoder::row_text(const std::vector<ValueView>& values) {
    const std::size_t n = convert(values);
    RowText row;
    row.array = "{";
    for (std::size_t i = 0; i < n; ++i) {
        if (i) row.array += ',';
        append_element(row.array, texts_[i], false);
        row.kinds += kind_letter(texts_[i].kind);
    }
    row.array += '}';
    return row;
}

std::vector<StoredValue> parse_row(std::string_view array, std::string_view kinds, std::size_t width) {
    auto bad = [] { return StoreError("PostgreSQL: a stored row does not read back"); };
    if (array.size() < 2 || array.front() != '{' || array.back() != '}') throw bad();
    std::vector<StoredValue> row;
    row.reserve(std::max(width, kinds.size()));
    std::string element;
    std::size_t at = 1;
    const std::size_t end = array.size() - 1;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (i > 0 && (at >= end || array[at++] != ',')) throw bad();
        element.clear();
        if (at < end && array[at] == '"') {
            for (++at; at < end && array[at] != '"'; ++at) {
                if (array[at] == '\\') ++at;
                if (at < end) element += array[at];
            }
            if (at++ >= end) throw bad();
        } else {
            while (at < end && array[at] != ',') element += array[at++];
        }
        ValueText v;
        switch (kinds[i]) {
            case 'n': v.kind = StoredValue::Kind::null; break;
            case 'i': v.kind = StoredValue::Kind::integer; break;
            case 'r': v.kind = StoredValue::Kind::real; break;
            case 't': v.kind = StoredValue::Kind::text; break;
            default: throw bad();
        }
        v.text = element;
        row.push_back(typed_value(v));
    }
    if (at != end) throw bad();
    row.resize(std::max(width, row.size()));
    return row;
}

}  // namespace ringolan::site::pg
