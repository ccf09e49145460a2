// Reads .mdb files with programs outside this code base: node + mdb-reader, and the mdbtools.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "common/calendar.h"
#include "tests/support/canon_detail.h"
#include "tests/support/read_back.h"

namespace ringolan::readback {
namespace {

namespace fs = std::filesystem;
using jet::ColumnType;

std::string shell_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

// Runs a shell command and returns its standard output. Its standard error is passed on to
// ours (libmdb's warnings matter when a file is checked) and quoted when the command fails.
std::string run(const std::string& command) {
    char err_path[] = "/tmp/ringolan-readback-XXXXXX";
    const int fd = mkstemp(err_path);
    if (fd < 0) throw std::runtime_error("cannot create a temporary file");
    close(fd);
    FILE* pipe = popen((command + " 2>" + err_path).c_str(), "r");
    if (!pipe) {
        std::remove(err_path);
        throw std::runtime_error("cannot run: " + command);
    }
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    const int status = pclose(pipe);
    std::string err;
    {
        std::ifstream in(err_path, std::ios::binary);
        err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::remove(err_path);
    if (status != 0) {
        throw std::runtime_error("command failed (status " + std::to_string(status) + "): " + command +
                                 (err.empty() ? "" : "\n" + err));
    }
    if (!err.empty()) std::cerr << err;
    return out;
}

std::vector<std::string> split(std::string_view s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == sep) {
            parts.emplace_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

fs::path node_reader_dir() {
    if (const char* env = std::getenv("RINGOLAN_NODE_READER_DIR"); env && *env) return env;
    return RINGOLAN_NODE_READER_DIR;
}

ColumnType mdbreader_type(const std::string& name) {
    static const std::pair<const char*, int> types[] = {
        {"boolean", 0x01}, {"byte", 0x02},   {"integer", 0x03},  {"long", 0x04},    {"currency", 0x05},
        {"float", 0x06},   {"double", 0x07}, {"datetime", 0x08}, {"binary", 0x09},  {"text", 0x0A},
        {"ole", 0x0B},     {"memo", 0x0C},   {"repid", 0x0F},    {"numeric", 0x10}, {"complex", 0x12},
        {"bigint", 0x13},  {"datetimextended", 0x14},
    };
    for (const auto& [n, code] : types) {
        if (name == n) return static_cast<ColumnType>(code);
    }
    throw std::runtime_error("mdb-reader reported an unknown column type \"" + name + "\"");
}

std::string mdbreader_cell(const nlohmann::json& v, ColumnType type) {
    if (v.is_null()) return "NULL";
    switch (type) {
        case ColumnType::Boolean:
            if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
            break;
        case ColumnType::Byte:
        case ColumnType::Integer:
        case ColumnType::Long:
            if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
            break;
        case ColumnType::Single:
        case ColumnType::Double:
            if (v.is_number()) return canonical(v.get<double>(), type);
            if (v.is_string()) {  // values JSON cannot carry
                const std::string s = v.get<std::string>();
                const double inf = std::numeric_limits<double>::infinity();
                if (s == "NaN") return canonical(std::numeric_limits<double>::quiet_NaN(), type);
                if (s == "Infinity") return canonical(inf, type);
                if (s == "-Infinity") return canonical(-inf, type);
                if (s == "-0") return canonical(-0.0, type);
            }
            break;
        case ColumnType::Currency:
            if (v.is_string()) {
                int64_t scaled;
                if (detail::parse_currency(v.get<std::string>(), scaled)) return detail::format_currency(scaled);
            }
            break;
        case ColumnType::DateTime:
            if (v.is_number_integer()) {
                // Epoch milliseconds, rounded to the second half away from zero.
                const int64_t ms = v.get<int64_t>();
                int64_t s = ms / 1000;
                const int64_t r = ms % 1000;
                if (r >= 500) ++s;
                if (r <= -500) --s;
                return detail::format_seconds(s + calendar::kUnixEpochDay * 86400);
            }
            break;
        default:
            if (v.is_string()) return detail::quote(v.get<std::string>());
            return detail::quote(v.dump());
    }
    return "<unexpected " + v.dump() + ">";
}

// Column types from mdb-schema's access-backend lines: "\t[Name]\t\t\tLong Integer, ".
std::vector<ColumnType> schema_types(const std::string& schema) {
    static const std::pair<const char*, int> types[] = {
        {"Boolean", 0x01},        {"Byte", 0x02},        {"Integer", 0x03},  {"Long Integer", 0x04},
        {"Currency", 0x05},       {"Single", 0x06},      {"Double", 0x07},   {"DateTime", 0x08},
        {"Binary", 0x09},         {"Text", 0x0A},        {"OLE", 0x0B},      {"Memo/Hyperlink", 0x0C},
        {"Replication ID", 0x0F}, {"Numeric", 0x10},
    };
    std::vector<ColumnType> out;
    for (const std::string& line : split(schema, '\n')) {
        if (line.size() < 2 || line[0] != '\t' || line[1] != '[') continue;
        const size_t close = line.rfind(']');
        const size_t start = line.find_first_not_of('\t', close + 1);
        if (close == std::string::npos || start == std::string::npos) continue;
        const std::string_view rest = std::string_view(line).substr(start);
        int code = 0xFF;
        for (const auto& [name, c] : types) {
            const std::string_view n(name);
            if (rest.substr(0, n.size()) == n &&
                (rest.size() == n.size() || rest[n.size()] == ' ' || rest[n.size()] == ',')) {
                code = c;
            }
        }
        out.push_back(static_cast<ColumnType>(code));
    }
    return out;
}

std::string export_cell(const std::string& field, ColumnType type) {
    if (field.empty()) return "NULL";
    if (type == ColumnType::Boolean) {
        if (field == "1") return "true";
        if (field == "0") return "false";
        return "<unexpected " + field + ">";
    }
    return detail::is_text_like(type) ? detail::quote(field) : field;
}

}  // namespace

std::vector<CanonTable> canon_from_mdbreader(const std::filesystem::path& file) {
    const fs::path dir = node_reader_dir();
    if (!fs::exists(dir / "node_modules" / "mdb-reader")) {
        throw std::runtime_error("mdb-reader is not installed in " + dir.string() + " (run npm ci there)");
    }
    const std::string out = run("node " + shell_quote((dir / "dump.mjs").string()) + " " + shell_quote(file.string()));
    try {
        const nlohmann::json doc = nlohmann::json::parse(out);
        std::vector<CanonTable> tables;
        for (const auto& t : doc.at("tables")) {
            CanonTable c{t.at("name").get<std::string>(), {}, {}, {}};
            for (const auto& col : t.at("columns")) {
                c.column_names.push_back(col.at("name").get<std::string>());
                c.column_types.push_back(mdbreader_type(col.at("type").get<std::string>()));
            }
            for (const auto& row : t.at("rows")) {
                std::vector<std::string> cells;
                for (size_t i = 0; i < row.size(); ++i) {
                    cells.push_back(mdbreader_cell(row[i], i < c.column_types.size() ? c.column_types[i] : ColumnType::Text));
                }
                c.rows.push_back(std::move(cells));
            }
            tables.push_back(std::move(c));
        }
        return tables;
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error("unexpected output of dump.mjs for " + file.string() + ": " + e.what());
    }
}

std::vector<CanonTable> canon_from_mdb_export(const std::filesystem::path& file) {
    const std::string f = shell_quote(file.string());
    std::vector<CanonTable> tables;
    for (const std::string& name : split(run("mdb-tables -1 " + f), '\n')) {
        if (name.empty()) continue;
        const std::string t = shell_quote(name);
        CanonTable c{name, {}, schema_types(run("mdb-schema -T " + t + " " + f + " access")), {}};
        const std::string data = run(
            "env -u MDBICONV LC_ALL=C.UTF-8 mdb-export -Q -d '\x1f' -R '\x1e' "
            "-D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' " + f + " " + t);
        std::vector<std::string> records = split(data, '\x1e');
        if (records.empty() || !records.back().empty()) {
            throw std::runtime_error("mdb-export output for table " + name + " does not end with a row");
        }
        records.pop_back();
        if (records.empty()) throw std::runtime_error("mdb-export printed no header for table " + name);
        c.column_names = split(records[0], '\x1f');
        if (c.column_names.size() != c.column_types.size()) {
            throw std::runtime_error("table " + name + ": mdb-export shows " + std::to_string(c.column_names.size()) +
                                     " columns, mdb-schema " + std::to_string(c.column_types.size()));
        }
        for (size_t r = 1; r < records.size(); ++r) {
            std::vector<std::string> fields = split(records[r], '\x1f');
            if (fields.size() != c.column_names.size()) {
                throw std::runtime_error("table " + name + ": cannot split row " + std::to_string(r - 1) +
                                         " of the mdb-export output (a text holds 0x1E or 0x1F?)");
            }
            for (size_t i = 0; i < fields.size(); ++i) fields[i] = export_cell(fields[i], c.column_types[i]);
            c.rows.push_back(std::move(fields));
        }
        tables.push_back(std::move(c));
    }
    return tables;
}

}  // namespace ringolan::readback
