#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/calendar.h"
#include "db/mdbread/mdb_read.h"
#include "tests/support/canon_detail.h"
#include "tests/support/read_back.h"

namespace ringolan::readback {
namespace detail {

std::string quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    out += text;
    out += '"';
    return out;
}

std::string format_currency(int64_t scaled) {
    const bool negative = scaled < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    char frac[8];
    std::snprintf(frac, sizeof frac, "%04u", static_cast<unsigned>(magnitude % 10000));
    return (negative ? "-" : "") + std::to_string(magnitude / 10000) + "." + frac;
}

bool parse_currency(std::string_view text, int64_t& scaled) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    const size_t dot = text.find('.');
    std::string_view whole = text.substr(0, dot);
    std::string_view frac = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if ((whole.empty() && frac.empty()) || frac.size() > 4) return false;
    uint64_t v = 0;
    auto add_digit = [&v](char c) {
        if (c < '0' || c > '9' || v > (std::numeric_limits<uint64_t>::max() - 9) / 10) return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        return true;
    };
    for (char c : whole) {
        if (!add_digit(c)) return false;
    }
    for (size_t i = 0; i < 4; ++i) {
        if (!add_digit(i < frac.size() ? frac[i] : '0')) return false;
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (v > limit) return false;
    scaled = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    return true;
}

std::string format_seconds(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const calendar::CivilDate date = calendar::civil_date(days);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(date.year),
                  static_cast<long long>(date.month), static_cast<long long>(date.day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return buf;
}

std::string shortest(double v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string shortest(float v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

bool is_text_like(jet::ColumnType type) {
    switch (type) {
        case jet::ColumnType::Boolean:
        case jet::ColumnType::Byte:
        case jet::ColumnType::Integer:
        case jet::ColumnType::Long:
        case jet::ColumnType::Currency:
        case jet::ColumnType::Single:
        case jet::ColumnType::Double:
        case jet::ColumnType::DateTime:
            return false;
        default:
            return true;
    }
}

}  // namespace detail

namespace {

struct Canon {
    jet::ColumnType type;
    std::string operator()(jet::Null) const { return "NULL"; }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(int64_t v) const { return std::to_string(v); }
    std::string operator()(double v) const {
        return type == jet::ColumnType::Single ? detail::shortest(static_cast<float>(v)) : detail::shortest(v);
    }
    std::string operator()(jet::Currency c) const { return detail::format_currency(c.scaled); }
    std::string operator()(jet::DateTime d) const {
        const double seconds = std::round(d.days * 86400.0);
        if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) return "<date " + detail::shortest(d.days) + ">";
        return detail::format_seconds(static_cast<int64_t>(seconds));
    }
    std::string operator()(const std::string& s) const { return detail::quote(s); }
};

// mdb-export writes at most this many bytes of a value (its bind buffer less the terminator).
constexpr size_t kExportValueLimit = 199999;

}  // namespace

std::string canonical(const jet::Value& value, jet::ColumnType type) { return std::visit(Canon{type}, value); }

std::vector<CanonTable> canon_expected(const std::vector<ExpectedTable>& tables) {
    std::vector<CanonTable> out;
    for (const ExpectedTable& t : tables) {
        CanonTable c{t.name, {}, {}, {}};
        for (const jet::Column& col : t.columns) {
            c.column_names.push_back(col.name);
            c.column_types.push_back(col.type);
        }
        for (const jet::Row& row : t.rows) {
            std::vector<std::string> cells;
            for (size_t i = 0; i < row.size(); ++i) {
                // A row longer than the column list keeps its extra cells, so the mismatch shows.
                cells.push_back(canonical(row[i], i < t.columns.size() ? t.columns[i].type : jet::ColumnType::Text));
            }
            c.rows.push_back(std::move(cells));
        }
        out.push_back(std::move(c));
    }
    return out;
}

std::vector<CanonTable> canon_from_libmdb(const std::filesystem::path& file) {
    std::vector<CanonTable> out;
    for (const mdbread::TableData& t : mdbread::read_all(file)) {
        CanonTable c{t.name, {}, {}, {}};
        for (const mdbread::ColumnInfo& col : t.columns) {
            c.column_names.push_back(col.name);
            c.column_types.push_back(col.type);
        }
        for (const jet::Row& row : t.rows) {
            std::vector<std::string> cells;
            for (size_t i = 0; i < row.size(); ++i) cells.push_back(canonical(row[i], t.columns[i].type));
            c.rows.push_back(std::move(cells));
        }
        out.push_back(std::move(c));
    }
    return out;
}

std::vector<CanonTable> mdb_export_view(std::vector<CanonTable> tables) {
    for (CanonTable& t : tables) {
        for (auto& row : t.rows) {
            for (size_t i = 0; i < row.size() && i < t.column_types.size(); ++i) {
                std::string& cell = row[i];
                if (cell == "NULL") continue;
                const jet::ColumnType type = t.column_types[i];
                if (detail::is_text_like(type)) {
                    if (cell == "\"\"") {
                        cell = "NULL";
                    } else if (cell.size() > kExportValueLimit + 2) {
                        std::string_view text(cell.data() + 1, cell.size() - 2);
                        size_t cut = kExportValueLimit;
                        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
                        cell = detail::quote(text.substr(0, cut));
                    }
                } else if (type == jet::ColumnType::Single) {
                    float v = 0;  // the canonical text parses back to the exact float
                    auto res = std::from_chars(cell.data(), cell.data() + cell.size(), v);
                    if (res.ec != std::errc() || res.ptr != cell.data() + cell.size()) continue;
                    char buf[64];
                    std::snprintf(buf, sizeof buf, "%.8g", static_cast<double>(v));
                    cell = buf;
                } else if (type == jet::ColumnType::Double) {
                    double v = 0;
                    auto res = std::from_chars(cell.data(), cell.data() + cell.size(), v);
                    if (res.ec != std::errc() || res.ptr != cell.data() + cell.size()) continue;
                    char buf[64];
                    std::snprintf(buf, sizeof buf, "%.16g", v);
                    cell = buf;
                }
            }
        }
    }
    return tables;
}

}  // namespace ringolan::readback
