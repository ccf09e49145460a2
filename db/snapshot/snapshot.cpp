#include "db/snapshot/snapshot.h"

#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>

#include "common/error.h"
#include "common/sqlite.h"
#include "db/snapshot/read_recorder.h"
#include "db/sql/jet_functions.h"

namespace ringolan::db {

// Every connection of a snapshot reads the one image in place: SQLite's memdb VFS takes the
// buffer as it is (read-only, not freed by SQLite, pages fetched by pointer), so there is no
// copy of it and a new snapshot is ready as soon as its image has arrived. The image outlives
// every connection.
struct Snapshot::Private {
    std::vector<uint8_t> image;                         // owned here, or
    std::shared_ptr<const platform::MemoryMap> mapped;  // mapped from another process
    uint8_t* data() { return mapped ? const_cast<uint8_t*>(mapped->data()) : image.data(); }
    std::size_t size() const { return mapped ? mapped->size() : image.size(); }
    mutable std::mutex mutex;
    mutable std::vector<sqlite3*> free;
    struct Memo {
        std::shared_ptr<const void> value;
        ReadSet reads;
        std::size_t bytes = 0;
    };
    mutable std::map<std::string, Memo> memos;  // under mutex
    mutable std::size_t memo_bytes = 0;
    // Keeps the value unless a bound is reached. Under mutex.
    void keep(const std::string& key, Memo memo) const {
        if (memos.size() >= kMemoValues || memo_bytes + memo.bytes > kMemoBytes) return;
        const std::size_t bytes = memo.bytes;
        if (memos.emplace(key, std::move(memo)).second) memo_bytes += bytes;
    }

    ~Private() {
        for (sqlite3* db : free) close(db);
    }
    static void close(sqlite3* db) {
        // Statements left behind by a user would keep the connection open as a zombie.
        while (sqlite3_stmt* st = sqlite3_next_stmt(db, nullptr)) sqlite3_finalize(st);
        sqlite3_close_v2(db);
    }
};

namespace {

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
    throw Error("snapshot: " + what + (db ? std::string(": ") + sqlite3_errmsg(db) : std::string()));
}

// A read-only connection to the image, which must outlive it.
sqlite::DbHandle open_image(uint8_t* data, std::size_t bytes) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite::DbHandle db(raw);
    if (rc != SQLITE_OK)
        throw Error(std::string("snapshot: cannot open a connection: ") +
                    (raw ? sqlite3_errmsg(raw) : "out of memory"));
    const auto size = sqlite3_int64(bytes);
    // Read-only: SQLite never writes to the buffer, which may be a read-only mapping.
    if (sqlite3_deserialize(raw, "main", data, size, size, SQLITE_DESERIALIZE_READONLY) != SQLITE_OK)
        throw Error(std::string("snapshot: the image is not an SQLite database: ") + sqlite3_errmsg(raw));
    return db;
}

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(db, sql);
}

// Pages are read from the image by pointer instead of being copied into the connection's cache.
// The authorizer comes last, so that these pragmas count as nobody's reads.
void prepare(sqlite3* db, std::size_t image_bytes) {
    exec(db, "PRAGMA query_only=1");
    exec(db, ("PRAGMA mmap_size=" + std::to_string(image_bytes)).c_str());
    register_jet_functions(db);
    watch_reads(db);
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
    p->image = std::move(image);
    return from_private(std::move(p), std::move(info));
}

std::shared_ptr<const Snapshot> Snapshot::from_mapping(std::shared_ptr<const platform::MemoryMap> image, SnapshotInfo info) {
    auto p = std::make_unique<Private>();
    p->mapped = std::move(image);
    if (!p->mapped) fail(nullptr, "the image is empty");
    return from_private(std::move(p), std::move(info));
}

std::shared_ptr<const Snapshot> Snapshot::from_private(std::unique_ptr<Private> p, SnapshotInfo info) {
    if (p->size() == 0) fail(nullptr, "the image is empty");
    if (info.read_at == std::chrono::system_clock::time_point{}) info.read_at = std::chrono::system_clock::now();
    sqlite3* db = open_image(p->data(), p->size()).release();
    p->free.push_back(db);  // closed with p from here on
    // Read the schema once: a damaged image fails here and not in the first page request.
    info.tables.clear();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_schema WHERE type='table' AND substr(name, 1, 7) <> 'sqlite_' ORDER BY rowid", -1, &raw,
                           nullptr) != SQLITE_OK) {
        fail(db, "cannot read the image's schema");
    }
    sqlite::StmtHandle st(raw);
    while (sqlite3_step(raw) == SQLITE_ROW) info.tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
    if (sqlite3_finalize(st.release()) != SQLITE_OK) fail(db, "cannot read the image's schema");
    prepare(db, p->size());
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
        sqlite::DbHandle fresh = open_image(p_->data(), p_->size());
        prepare(fresh.get(), p_->size());
        db = fresh.release();
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

std::shared_ptr<const void> Snapshot::find_memo(const std::string& key) const {
    std::shared_ptr<const void> value;
    ReadSet reads;
    {
        std::lock_guard lock(p_->mutex);
        const auto it = p_->memos.find(key);
        if (it == p_->memos.end()) return nullptr;
        value = it->second.value;
        reads = it->second.reads;
    }
    ReadRecorder::note_reads(reads);
    return value;
}

void Snapshot::keep_memo(const std::string& key, std::shared_ptr<const void> value, ReadSet reads,
                         std::size_t bytes) const {
    std::lock_guard lock(p_->mutex);
    p_->keep(key, Private::Memo{std::move(value), std::move(reads), bytes});
}

void Snapshot::carry_memos_from(const Snapshot& base) const {
    if (&base == this || info_.base_generation == 0 || info_.base_generation != base.info_.generation ||
        info_.source != base.info_.source)
        return;
    std::map<std::string, Private::Memo> carried;
    {
        std::lock_guard lock(base.p_->mutex);
        for (const auto& [key, memo] : base.p_->memos)
            if (memo.reads.unaffected_by(info_.changed_tables, info_.changed_keys)) carried.emplace(key, memo);
    }
    std::lock_guard lock(p_->mutex);
    for (auto& [key, memo] : carried) p_->keep(key, std::move(memo));
}

}  // namespace ringolan::db
