#include "upload/sql_dump.h"

#include <fstream>
#include <stdexcept>

#include "common/error.h"
#include "common/regional.h"

namespace ringolan::upload {

DumpType dump_type(std::string_view declared, db::FieldType computed) {
    if (declared.empty()) {
        switch (computed) {
        case db::FieldType::Text:
        case db::FieldType::Null: return DumpType::Text;
        case db::FieldType::Integer: return DumpType::Integer;
        case db::FieldType::Boolean: return DumpType::Boolean;
        case db::FieldType::Real: return DumpType::Real;
        case db::FieldType::Currency: return DumpType::Currency;
        case db::FieldType::DateTime: return DumpType::DateTime;
        case db::FieldType::Memo:
        case db::FieldType::Binary: return DumpType::Skipped;
        }
        return DumpType::Skipped;
    }
    if (declared == "TEXT") return DumpType::Text;
    if (declared == "BYTE" || declared == "SMALLINT" || declared == "LONG") return DumpType::Integer;
    if (declared == "SINGLE" || declared == "DOUBLE") return DumpType::Real;
    if (declared == "CURRENCY") return DumpType::Currency;
    if (declared == "BOOLEAN") return DumpType::Boolean;
    if (declared == "DATETIME") return DumpType::DateTime;
    if (declared == "GUID") return DumpType::Guid;
    if (declared == "NUMERIC") return DumpType::Bcd;
    return DumpType::Skipped;
}

DumpType dump_type(const db::Field& field) { return dump_type(field.declared_type(), field.type()); }
DumpType dump_type(const db::RowField& field) { return dump_type(field.declared_type(), field.type()); }

std::string real_text(double value) {
    std::string s = regional::one_decimal(value);
    if (const auto comma = s.find(','); comma != std::string::npos) s[comma] = '.';
    return s;
}

namespace {

// An exact decimal as the snapshot keeps it ("12.5000") in general form with the regional
// separator: trailing zeros of the fraction dropped ("12,5", "3").
std::string bcd_text(const std::string& text) {
    std::string t = text;
    const auto point = t.find('.');
    if (point == std::string::npos) return t;
    while (t.size() > point + 1 && t.back() == '0') t.pop_back();
    if (t.size() == point + 1) t.pop_back();
    else t[point] = regional::settings().decimal_separator;
    return t;
}

}  // namespace

std::string SqlDump::value_text(DumpType type, const std::string& text, double real) const {
    std::string out;
    append_value(out, type, text, real);
    return out;
}

void SqlDump::append_value(std::string& out, DumpType type, std::string_view text, double real) const {
    auto delimited = [&out](const std::string& delim, std::string_view v) { out.append(delim).append(v).append(delim); };
    switch (type) {
    case DumpType::Text: {
        if (string_delim.size() != 1) return delimited(string_delim, text);
        const char quote = string_delim[0];
        out += quote;
        for (size_t from = 0;;) {
            const size_t at = text.find(quote, from);
            out.append(text.substr(from, at == std::string_view::npos ? at : at - from));
            if (at == std::string_view::npos) break;
            out += '\\';
            out += quote;
            from = at + 1;
        }
        out += quote;
        return;
    }
    case DumpType::FixedText: return delimited(string_delim, text);
    case DumpType::Integer: return delimited(numeric_delim, text);
    case DumpType::Bcd: return delimited(numeric_delim, bcd_text(std::string(text)));
    case DumpType::Real: out += real_text(real); return;
    case DumpType::Currency: return delimited(currency_delim, text);
    case DumpType::Boolean: return delimited(bool_delim, text == "Falsch" ? "-1" : "0");
    case DumpType::DateTime: return delimited(date_delim, text);
    case DumpType::Guid: return delimited(guid_delim, text);
    case DumpType::Skipped: break;
    }
}

template <class F>
void SqlDump::append_field(std::string& out, DumpType type, const F& field) const {
    if (type == DumpType::Skipped) return;
    if (type == DumpType::Real) out += real_text(field.as_real());
    else append_value(out, type, field.as_text(), 0.0);
}

template <class F>
std::string SqlDump::field_text(DumpType type, const F& field) const {
    std::string out;
    append_field(out, type, field);
    return out;
}

std::string SqlDump::value_text(DumpType type, const db::Field& field) const { return field_text(type, field); }
std::string SqlDump::value_text(DumpType type, const db::RowField& field) const { return field_text(type, field); }

bool SqlDump::ready() const { return query && query->is_open() && !table_name.empty(); }

std::vector<DumpType> SqlDump::column_types() const {
    std::vector<DumpType> types;
    for (size_t i = 0; i < query->field_count(); ++i) types.push_back(dump_type(query->field(i)));
    return types;
}

template <class Rows>
void SqlDump::append_line(std::string& line, const Rows& rows, std::string_view table_code,
                           const std::vector<DumpType>& types) const {
    line.append("#*i").append(table_code).append("#*");
    for (size_t i = 0; i < types.size(); ++i) {
        if (types[i] == DumpType::Skipped) continue;
        append_field(line, types[i], rows.field(i));
        line += ',';
    }
    line.pop_back();  // the last "," (or the "*" of "#*" when nothing was written)
    line.append(");");
}

void SqlDump::dump(std::string_view table_code) {
    lines_.clear();
    if (!ready()) return;
    const auto types = column_types();
    for (query->first(); !query->at_end(); query->next()) {
        std::string line;
        append_line(line, *query, table_code, types);
        lines_.push_back(std::move(line));
    }
}

size_t SqlDump::dump_to(std::ostream& out, std::string_view table_code) {
    lines_.clear();
    if (!ready()) return 0;
    const auto types = column_types();
    size_t lines = 0;
    std::string line;
    for (query->first(); !query->at_end(); query->next()) {
        line.clear();
        append_line(line, *query, table_code, types);
        line.append("\r\n");
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        if (!out)
            throw Error("Die Zeilen der Tabelle " + table_name + " konnten nicht geschrieben werden");
        ++lines;
    }
    return lines;
}

size_t SqlDump::dump_to(db::RowCursor& rows, std::ostream& out, std::string_view table_code) {
    lines_.clear();
    if (table_name.empty()) return 0;
    std::vector<DumpType> types;
    for (size_t i = 0; i < rows.field_count(); ++i) types.push_back(dump_type(rows.field(i)));
    size_t lines = 0;
    std::string line;
    for (; !rows.at_end(); rows.next()) {
        line.clear();
        append_line(line, rows, table_code, types);
        line.append("\r\n");
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        if (!out)
            throw Error("Die Zeilen der Tabelle " + table_name + " konnten nicht geschrieben werden");
        ++lines;
    }
    return lines;
}

size_t SqlDump::dump_to_file(const std::filesystem::path& file, std::string_view table_code) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) throw Error("Die Datei " + file.string() + " kann nicht geschrieben werden");
    const size_t lines = dump_to(out, table_code);
    out.close();
    if (!out) throw Error("Die Datei " + file.string() + " kann nicht geschrieben werden");
    return lines;
}

}  // namespace ringolan::upload
