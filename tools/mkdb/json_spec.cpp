#include "tools/mkdb/json_spec.h"

#include <nlohmann/json.hpp>

#include "db/jet/writer.h"

namespace ringolan::mkdb {
namespace {

using nlohmann::json;
using namespace ringolan::jet;

std::string where(const std::string& table, size_t row, const std::string& column) {
    return "table \"" + table + "\", row " + std::to_string(row + 1) + ", column \"" + column + "\": ";
}

Value to_value(const json& v, ColumnType type, const std::string& at) {
    if (v.is_null()) return Null{};
    switch (type) {
        case ColumnType::Boolean:
            if (v.is_boolean()) return v.get<bool>();
            break;
        case ColumnType::Byte:
        case ColumnType::Integer:
        case ColumnType::Long:
            if (v.is_number_unsigned()) {
                const uint64_t u = v.get<uint64_t>();
                if (u > uint64_t(INT64_MAX)) throw SpecError(at + "value " + v.dump() + " is out of range");
                return int64_t(u);
            }
            if (v.is_number_integer()) return v.get<int64_t>();
            if (v.is_number_float()) return v.get<double>();
            break;
        case ColumnType::Single:
        case ColumnType::Double:
            if (v.is_number_integer() || v.is_number_unsigned()) return v.get<double>();
            if (v.is_number_float()) return v.get<double>();
            break;
        case ColumnType::Currency:
            if (v.is_string()) {
                Currency c;
                if (!parse_currency(v.get<std::string>(), c))
                    throw SpecError(at + "\"" + v.get<std::string>() + "\" is not an amount with at most four decimals");
                return c;
            }
            if (v.is_number_integer()) return v.get<int64_t>();
            if (v.is_number_unsigned()) return double(v.get<uint64_t>());
            if (v.is_number_float()) return v.get<double>();
            break;
        case ColumnType::DateTime:
            if (v.is_string()) {
                DateTime d;
                if (!parse_datetime(v.get<std::string>(), d))
                    throw SpecError(at + "\"" + v.get<std::string>() + "\" is not a date \"YYYY-MM-DD HH:MM:SS\"");
                return d;
            }
            break;
        case ColumnType::Text:
        case ColumnType::Memo:
            if (v.is_string()) return v.get<std::string>();
            break;
        default: break;
    }
    throw SpecError(at + "a " + std::string(type_name(type)) + " column cannot hold " + v.dump());
}

const json& member(const json& obj, const char* key, const std::string& context) {
    auto it = obj.find(key);
    if (it == obj.end()) throw SpecError(context + "\"" + key + "\" is missing");
    return *it;
}

// The array "tables" of the description.
json parse_tables(const std::string& text) {
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        throw SpecError(std::string("malformed JSON: ") + e.what());
    }
    if (!doc.is_object()) throw SpecError("the description must be a JSON object with \"tables\"");
    if (!member(doc, "tables", "").is_array()) throw SpecError("\"tables\" must be an array");
    return std::move(doc["tables"]);
}

// The table's "columns"; nctx names the table in messages.
std::vector<Column> read_columns(const json& t, const std::string& nctx) {
    const json& jcols = member(t, "columns", nctx);
    if (!jcols.is_array()) throw SpecError(nctx + "\"columns\" must be an array");
    std::vector<Column> cols;
    for (size_t ci = 0; ci < jcols.size(); ++ci) {
        const json& c = jcols[ci];
        const std::string cctx = nctx + "column " + std::to_string(ci + 1) + ": ";
        if (!c.is_object()) throw SpecError(cctx + "must be an object");
        const json& cn = member(c, "name", cctx);
        const json& ct = member(c, "type", cctx);
        if (!cn.is_string() || !ct.is_string()) throw SpecError(cctx + "\"name\" and \"type\" must be strings");
        Column col{cn.get<std::string>(), ColumnType::Long, 0};
        if (!parse_type_name(ct.get<std::string>(), col.type))
            throw SpecError(nctx + "column \"" + col.name + "\": unknown type \"" + ct.get<std::string>() +
                            "\" (byte integer long single double currency boolean datetime text memo)");
        if (col.type == ColumnType::Text) {
            col.size = 255;
            if (auto s = c.find("size"); s != c.end()) {
                if (!s->is_number_integer() && !s->is_number_unsigned())
                    throw SpecError(nctx + "column \"" + col.name + "\": \"size\" must be a whole number");
                const int64_t size = s->get<int64_t>();
                col.size = size < 0 || size > 10000 ? 0 : int(size);
            }
        }
        cols.push_back(col);
    }
    return cols;
}

// Writes the rows of table `name`; returns their number.
size_t add_rows(TableWriter& tw, const json& jrows, const std::string& name, const std::vector<Column>& cols,
                const std::string& nctx) {
    if (!jrows.is_array()) throw SpecError(nctx + "\"rows\" must be an array");
    for (size_t ri = 0; ri < jrows.size(); ++ri) {
        const json& r = jrows[ri];
        const std::string rctx = nctx + "row " + std::to_string(ri + 1) + ": ";
        if (!r.is_array()) throw SpecError(rctx + "must be an array of values");
        if (r.size() != cols.size())
            throw SpecError(rctx + "has " + std::to_string(r.size()) + " values, the table has " +
                            std::to_string(cols.size()) + " columns");
        Row row;
        row.reserve(cols.size());
        for (size_t ci = 0; ci < cols.size(); ++ci)
            row.push_back(to_value(r[ci], cols[ci].type, where(name, ri, cols[ci].name)));
        try {
            tw.add_row(row);
        } catch (const WriteError& e) {
            if (e.column() >= 0)
                throw SpecError(where(name, ri, cols[size_t(e.column())].name) +
                                std::string(e.what()).substr(std::string(e.what()).find(": ") + 2));
            throw SpecError(rctx + e.what());
        }
    }
    return jrows.size();
}

}  // namespace

Summary write_from_json(const std::string& text, const std::filesystem::path& out) {
    const json tables = parse_tables(text);
    DatabaseWriter db;
    Summary sum;
    for (size_t ti = 0; ti < tables.size(); ++ti) {
        const json& t = tables[ti];
        const std::string tctx = "table " + std::to_string(ti + 1) + ": ";
        if (!t.is_object()) throw SpecError(tctx + "must be an object");
        const json& jname = member(t, "name", tctx);
        if (!jname.is_string()) throw SpecError(tctx + "\"name\" must be a string");
        const std::string name = jname.get<std::string>();
        const std::string nctx = "table \"" + name + "\": ";
        const std::vector<Column> cols = read_columns(t, nctx);
        TableWriter* tw;
        try {
            tw = &db.add_table(name, cols);
        } catch (const WriteError& e) {
            throw SpecError(nctx + e.what());
        }
        auto jrows = t.find("rows");
        if (jrows == t.end()) continue;  // not counted among the tables
        sum.rows += add_rows(*tw, *jrows, name, cols, nctx);
        ++sum.tables;
    }
    db.save(out);
    sum.bytes = size_t(std::filesystem::file_size(out));
    return sum;
}

}  // namespace ringolan::mkdb
