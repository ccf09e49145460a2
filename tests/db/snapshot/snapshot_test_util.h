// Helpers of the snapshot tests: a private temporary folder, small Jet files and SQL reads.
#pragma once

#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/sqlite.h"
#include "db/jet/writer.h"
#include "db/snapshot/reader_service.h"
#include "db/snapshot/snapshot.h"
#include "db/sql/jet_functions.h"

namespace ringolan::db::test {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        static std::atomic<int> n{0};
        path_ = fs::temp_directory_path() /
                ("snapshot_test_" + std::to_string(::getpid()) + "_" + std::to_string(++n));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

inline std::vector<uint8_t> read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const fs::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Every row of a statement, each value as text ("NULL" for NULL).
inline std::vector<std::vector<std::string>> rows(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
    }
    const ringolan::sqlite::StmtHandle guard(st);
    std::vector<std::vector<std::string>> out;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            const auto* t = sqlite3_column_text(st, i);
            row.emplace_back(t ? reinterpret_cast<const char*>(t) : "NULL");
        }
        out.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
    return out;
}

// The first column of every row.
inline std::vector<std::string> column(sqlite3* db, const std::string& sql) {
    std::vector<std::string> out;
    for (auto& r : rows(db, sql)) out.push_back(r.at(0));
    return out;
}

inline std::string scalar(sqlite3* db, const std::string& sql) { return rows(db, sql).at(0).at(0); }

// Opens an image on a private connection with the Jet collation.
struct ImageDb {
    std::vector<uint8_t> image;
    sqlite::DbHandle owner;  // closed before the image goes
    sqlite3* db = nullptr;
    explicit ImageDb(std::vector<uint8_t> img) : image(std::move(img)) {
        sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr);
        owner.reset(db);
        register_jet_functions(db);
        if (sqlite3_deserialize(db, "main", image.data(), sqlite3_int64(image.size()), sqlite3_int64(image.size()),
                                SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
            throw std::runtime_error(sqlite3_errmsg(db));
        }
    }
};

// One table with the given columns and rows, saved atomically.
inline void write_table(const fs::path& file, const std::string& name, const std::vector<jet::Column>& columns,
                        const std::vector<jet::Row>& rows) {
    jet::DatabaseWriter w;
    auto& t = w.add_table(name, columns);
    for (const auto& r : rows) t.add_row(r);
    w.save(file);
}

// The info of a state the reader service answered, as the follower makes it: changed against
// the state before (generation - 1) unless the reader read the file whole.
inline SnapshotInfo answered_state(const ReaderService::Answer& a, uint64_t generation) {
    SnapshotInfo info;
    info.generation = generation;
    if (!a.all_changed) {
        info.base_generation = generation - 1;
        info.changed_tables = a.changed_tables;
        info.changed_keys = a.changed_keys;
    }
    return info;
}

}  // namespace ringolan::db::test
