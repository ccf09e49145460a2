// Access to the demo tables by table and column name, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "tools/mkdemo/demo.h"

namespace demo_test {

using ringolan::demo::DemoOptions;
using ringolan::demo::DemoTable;
namespace jet = ringolan::jet;

inline std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class Db {
public:
    explicit Db(std::vector<DemoTable> tables) : tables_(std::move(tables)) {}
    explicit Db(const DemoOptions& o) : Db(ringolan::demo::make_demo(o)) {}

    const std::vector<DemoTable>& tables() const { return tables_; }
    const DemoTable& table(const std::string& name) const {
        for (const auto& t : tables_)
            if (lower(t.name) == lower(name)) return t;
        throw std::out_of_range("no table " + name);
    }
    size_t col(const std::string& table_name, const std::string& column) const {
        const auto& t = table(table_name);
        for (size_t i = 0; i < t.columns.size(); ++i)
            if (lower(t.columns[i].name) == lower(column)) return i;
        throw std::out_of_range("no column " + table_name + "." + column);
    }
    const std::vector<jet::Row>& rows(const std::string& name) const { return table(name).rows; }

private:
    std::vector<DemoTable> tables_;
};

inline bool is_null(const jet::Value& v) { return std::holds_alternative<jet::Null>(v); }
inline int64_t as_int(const jet::Value& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) return *i;
    throw std::runtime_error("not a whole number");
}
inline double as_double(const jet::Value& v) {
    if (const auto* d = std::get_if<double>(&v)) return *d;
    if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    throw std::runtime_error("not a number");
}
inline std::string as_text(const jet::Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    throw std::runtime_error("not a text");
}
// NULL reads as 0, as the pages read it.
inline double num_or_zero(const jet::Value& v) { return is_null(v) ? 0.0 : as_double(v); }
inline std::optional<std::string> opt_text(const jet::Value& v) {
    if (is_null(v)) return std::nullopt;
    return as_text(v);
}

// Number of UTF-8 code points.
inline size_t utf8_length(const std::string& s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace demo_test
