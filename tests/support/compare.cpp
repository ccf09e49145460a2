#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "tests/support/read_back.h"

namespace ringolan::readback {
namespace {

constexpr size_t kMaxShownCells = 10;
constexpr size_t kMaxShownChars = 120;

// Long values are cut at a character boundary and their length is given.
std::string shown(const std::string& s) {
    if (s.size() <= kMaxShownChars) return s;
    size_t cut = kMaxShownChars - 20;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return s.substr(0, cut) + "... (" + std::to_string(s.size()) + " bytes)";
}

std::string list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
    return out + "]";
}

std::string type_code(jet::ColumnType t) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", static_cast<unsigned>(t));
    return buf;
}

std::vector<std::string> names_of(const std::vector<CanonTable>& tables) {
    std::vector<std::string> names;
    for (const CanonTable& t : tables) names.push_back(t.name);
    return names;
}

// Describes every difference of one table in a few lines; empty when equal.
std::string table_differences(const CanonTable& e, const CanonTable& a) {
    std::ostringstream out;
    if (e.column_names != a.column_names) {
        out << "  column names: expected " << list(e.column_names) << ", actual " << list(a.column_names) << "\n";
    }
    size_t shown_types = 0;
    for (size_t c = 0; c < std::min(e.column_types.size(), a.column_types.size()); ++c) {
        if (e.column_types[c] != a.column_types[c] && shown_types++ < kMaxShownCells) {
            const std::string& name = c < e.column_names.size() ? e.column_names[c] : std::to_string(c);
            out << "  column " << name << ": expected type " << type_code(e.column_types[c]) << ", actual "
                << type_code(a.column_types[c]) << "\n";
        }
    }
    if (e.rows.size() != a.rows.size()) {
        out << "  rows: expected " << e.rows.size() << ", actual " << a.rows.size() << "\n";
    }
    size_t differing = 0;
    for (size_t r = 0; r < std::min(e.rows.size(), a.rows.size()); ++r) {
        const auto& er = e.rows[r];
        const auto& ar = a.rows[r];
        if (er.size() != ar.size() && differing++ < kMaxShownCells) {
            out << "  row " << r << ": expected " << er.size() << " cells, actual " << ar.size() << "\n";
        }
        for (size_t c = 0; c < std::min(er.size(), ar.size()); ++c) {
            if (er[c] == ar[c]) continue;
            if (differing++ < kMaxShownCells) {
                const std::string& name = c < e.column_names.size() ? e.column_names[c] : std::to_string(c);
                out << "  row " << r << ", column " << name << ": expected " << shown(er[c]) << ", actual "
                    << shown(ar[c]) << "\n";
            }
        }
    }
    if (differing > kMaxShownCells) out << "  ... and " << differing - kMaxShownCells << " more differences\n";
    return out.str();
}

}  // namespace

void expect_same_tables(const std::vector<CanonTable>& expected, const std::vector<CanonTable>& actual,
                        std::string_view reader) {
    const auto expected_names = names_of(expected);
    const auto actual_names = names_of(actual);
    if (expected_names != actual_names) {
        ADD_FAILURE() << reader << ": the tables differ\n  expected: " << list(expected_names)
                      << "\n  actual:   " << list(actual_names);
    }
    for (const CanonTable& e : expected) {
        for (const CanonTable& a : actual) {
            if (a.name != e.name) continue;
            const std::string diff = table_differences(e, a);
            if (!diff.empty()) ADD_FAILURE() << reader << ": table " << e.name << " differs\n" << diff;
            break;
        }
    }
}

void expect_file_reads_back(const std::filesystem::path& file, const std::vector<ExpectedTable>& expected) {
    const std::vector<CanonTable> canon = canon_expected(expected);
    try {
        expect_same_tables(canon, canon_from_libmdb(file), "libmdb (ringolan_mdbread)");
    } catch (const std::exception& e) {
        ADD_FAILURE() << "libmdb (ringolan_mdbread) cannot read " << file << ": " << e.what();
    }
    try {
        expect_same_tables(canon, canon_from_mdbreader(file), "mdb-reader");
    } catch (const std::exception& e) {
        ADD_FAILURE() << "mdb-reader cannot read " << file << ": " << e.what();
    }
    try {
        expect_same_tables(mdb_export_view(canon), canon_from_mdb_export(file), "mdb-export");
    } catch (const std::exception& e) {
        ADD_FAILURE() << "mdb-export cannot read " << file << ": " << e.what();
    }
}

}  // namespace ringolan::readback
