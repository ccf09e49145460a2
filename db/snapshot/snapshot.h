// An immutable in-memory SQLite copy of the competition file, shared by all page requests.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "db/snapshot/change_keys.h"
#include "db/snapshot/read_recorder.h"
#include "platform/memory_map.h"

namespace ringolan::db {

struct SnapshotInfo {
    std::filesystem::path source;                // the .mdb file it was read from
    uint64_t generation = 0;                     // 1, 2, ... in the order snapshots were made
    std::filesystem::file_time_type mtime{};     // of the source when it was read
    uintmax_t size = 0;                          // of the source when it was read
    std::chrono::milliseconds build_time{0};     // reading and converting
    std::chrono::system_clock::time_point read_at{};  // when the read ended; set by from_image if unset
    std::vector<std::string> tables;             // user tables, catalog order
    // Set when this state was made from generation base_generation of the same file and differs
    // from it only in changed_tables (catalog names); 0 when unknown (every table may differ).
    uint64_t base_generation = 0;
    std::vector<std::string> changed_tables;
    std::vector<TableKeys> changed_keys;  // of some changed tables: the keys of the rows that differ
};

class Snapshot : public std::enable_shared_from_this<Snapshot> {
public:
    // A read-only connection to the snapshot, returned to the snapshot's pool when destroyed.
    // Several statements may be open on one connection at once; one connection serves one thread.
    class Connection {
    public:
        Connection(Connection&&) noexcept;
        Connection& operator=(Connection&&) = delete;
        ~Connection();
        sqlite3* get() const { return db_; }

    private:
        friend class Snapshot;
        Connection(std::shared_ptr<const Snapshot> owner, sqlite3* db) : owner_(std::move(owner)), db_(db) {}
        std::shared_ptr<const Snapshot> owner_;
        sqlite3* db_;
    };

    // Takes a serialized SQLite database as made by build_snapshot_image (snapshot_build.h);
    // info.tables is filled from its schema. The snapshot keeps the image, and all its
    // connections read it in place. Throws std::runtime_error when SQLite rejects it.
    static std::shared_ptr<const Snapshot> from_image(std::vector<uint8_t> image, SnapshotInfo info);
    // The same for an image mapped from the reader process, kept mapped while the snapshot lives.
    static std::shared_ptr<const Snapshot> from_mapping(std::shared_ptr<const platform::MemoryMap> image,
                                                        SnapshotInfo info);
    ~Snapshot();

    // A connection for the calling thread; Jet collation and functions are registered on it.
    Connection connect() const;
    const SnapshotInfo& info() const { return info_; }

    // What make() gives for key, made once for this snapshot and shared: the rows of a long
    // list that the answers of several addresses show. make() runs under no lock (two requests
    // may both make a value; the first is kept) and may throw (nothing is kept). A request
    // taking a kept value has what make() read noted by its ReadRecorder as if it had read it.
    // T tells its size by bytes(); at most kMemoValues values and kMemoBytes bytes are kept.
    template <class T>
    std::shared_ptr<const T> memo(const std::string& key, const std::function<T()>& make) const {
        if (auto kept = find_memo(key)) return std::static_pointer_cast<const T>(kept);
        std::shared_ptr<const T> value;
        ReadSet reads;
        {
            ReadRecorder recorder;  // what it records reaches the caller's recorder as well
            value = std::make_shared<const T>(make());
            reads = recorder.result();
        }
        keep_memo(key, value, std::move(reads), value->bytes());
        return value;
    }
    static constexpr std::size_t kMemoValues = 64;
    static constexpr std::size_t kMemoBytes = 64 << 20;
    // Takes over the kept values of base that read nothing this snapshot changed, when this
    // snapshot was made from base (info().base_generation, same source); as cached pages carry over.
    void carry_memos_from(const Snapshot& base) const;

private:
    // The kept value, its reads noted; nullptr when none is kept.
    std::shared_ptr<const void> find_memo(const std::string& key) const;
    void keep_memo(const std::string& key, std::shared_ptr<const void> value, ReadSet reads, std::size_t bytes) const;
    struct Private;
    Snapshot(std::unique_ptr<Private> p, SnapshotInfo info);
    static std::shared_ptr<const Snapshot> from_private(std::unique_ptr<Private> p, SnapshotInfo info);
    std::unique_ptr<Private> p_;
    SnapshotInfo info_;
    void release(sqlite3* db) const;
};

}  // namespace ringolan::db
