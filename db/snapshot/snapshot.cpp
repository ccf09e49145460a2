#include "db/snapshot/snapshot.h"

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <unistd.h>
#include <utility>

#include "db/sql/jet_functions.h"

namespace ringolan::db {

// All connections of a snapshot open one shared database of SQLite's memdb VFS (a file name
// that starts with "/" names a store shared within the process). The image is copied into it
// once; every connection reads the same pages through its own small page cache. The store
// lives while one of its connections is open: `primary` holds it for the snapshot's life.
struct Snapshot::Private {
    std::string uri;
    sqlite3* primary = nullptr;
    mutable std::mutex mutex;
    mutable std::vector<sqlite3*> free;

    ~Private() {
        for (sqlite3* db : free) close(db);
        if (primary) close(primary);
    }
    static void close(sqlite3* db) {
        // Statements left behind by a user would keep the connection open as a zombie.
        while (sqlite3_stmt* st = sqlite3_next_stmt(db, nullptr)) sqlite3_finalize(st);
        sqlite3_close_v2(db);
    }
};

namespace {

std::string next_uri() {
    static std::atomic<uint64_t> counter{0};
    return "file:/ringolan-snapshot-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "?vfs=memdb";
}

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
    throw std::runtime_error("snapshot: " + what + (db ? std::string(": ") + sqlite3_errmsg(db) : std::string()));
}

sqlite3* open_uri(const std::string& uri, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(uri.c_str(), &db, flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        throw std::runtime_error("snapshot: cannot open " + uri + ": " + msg);
    }
    return db;
}

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(db, sql);
}

}  // namespace

Snapshot::Connection::Connection(Connection&& other) noexcept
    : owner_(std::move(other.owner_)), db_(std::exchange(other.db_, nullptr)) {}

Snapshot::Connection::~Connection() {
    if (owner_ && db_) owner_->release(db_);
}

Snapshot::Snapshot(std::unique_ptr<Private> p, SnapshotInfo info) : p_(std::move(p)), info_(std::move(info)) {}

Snapshot::~Snapshot() = default;

std::shared_ptr<const Snapshot> Snapshot::from_image(std::vector<uint8_t> image, SnapshotInfo info) {
    auto p = std::make_unique<Private>();
    p->uri = next_uri();
    p->primary = open_uri(p->uri, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);

    // The image is read in place by a private connection and copied page by page into the
    // shared store (sqlite3_deserialize itself would detach the connection from the store).
    if (image.empty()) fail(nullptr, "the image is empty");
    sqlite3* src = open_uri(":memory:", SQLITE_OPEN_READWRITE);
    struct Closer {
        sqlite3* db;
        ~Closer() { sqlite3_close_v2(db); }
    } src_guard{src};
    if (sqlite3_deserialize(src, "main", image.data(), sqlite3_int64(image.size()), sqlite3_int64(image.size()),
                            SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
        fail(src, "the image is not an SQLite database");
    }
    // Matching page sizes: the store is a memory database, which backup cannot resize.
    sqlite3_stmt* st = nullptr;
    int page_size = 0;
    if (sqlite3_prepare_v2(src, "PRAGMA page_size", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
        page_size = sqlite3_column_int(st, 0);
    }
    sqlite3_finalize(st);
    if (page_size <= 0) fail(src, "the image is not an SQLite database");
    exec(p->primary, ("PRAGMA page_size=" + std::to_string(page_size)).c_str());

    sqlite3_backup* backup = sqlite3_backup_init(p->primary, "main", src, "main");
    if (!backup) fail(p->primary, "cannot copy the image");
    const int rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) fail(p->primary, "cannot copy the image");
    sqlite3_close_v2(std::exchange(src_guard.db, nullptr));
    // Read the schema once: a damaged image fails here and not in the first page request.
    info.tables.clear();
    if (sqlite3_prepare_v2(p->primary, "SELECT name FROM sqlite_schema WHERE type='table' AND substr(name, 1, 7) <> 'sqlite_' ORDER BY rowid", -1, &st,
                           nullptr) != SQLITE_OK) {
        fail(p->primary, "cannot read the image's schema");
    }
    while (sqlite3_step(st) == SQLITE_ROW) info.tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    if (sqlite3_finalize(st) != SQLITE_OK) fail(p->primary, "cannot read the image's schema");
    image.clear();
    image.shrink_to_fit();

    return std::shared_ptr<const Snapshot>(new Snapshot(std::move(p), std::move(info)));
}

Snapshot::Connection Snapshot::connect() const {
    sqlite3* db = nullptr;
    {
        std::lock_guard lock(p_->mutex);
        if (!p_->free.empty()) {
            db = p_->free.back();
            p_->free.pop_back();
        }
    }
    if (!db) {
        db = open_uri(p_->uri, SQLITE_OPEN_READONLY);
        try {
            exec(db, "PRAGMA query_only=1");
            register_jet_functions(db);
        } catch (...) {
            sqlite3_close_v2(db);
            throw;
        }
    }
    return Connection(shared_from_this(), db);
}

void Snapshot::release(sqlite3* db) const {
    // A statement still stepping would hold the read lock; the next user starts clean.
    for (sqlite3_stmt* st = sqlite3_next_stmt(db, nullptr); st; st = sqlite3_next_stmt(db, st)) {
        if (sqlite3_stmt_busy(st)) sqlite3_reset(st);
    }
    std::lock_guard lock(p_->mutex);
    p_->free.push_back(db);
}

}  // namespace ringolan::db
