// Follows a competition file that the scoring program keeps rewriting: always offers the
// newest snapshot that was read from a consistent copy of the file.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/snapshot/snapshot.h"
#include "db/snapshot/snapshot_child.h"

namespace ringolan::db {

// The file must have been unchanged this long before it is read (a write that comes during the
// read is seen afterwards, and the state read is dropped).
inline constexpr std::chrono::milliseconds kQuietTime{40};
// How often the file's size and modification time are checked besides the change events.
inline constexpr std::chrono::milliseconds kStatInterval{250};
// Time limit of one build in the child process.
inline constexpr std::chrono::milliseconds kBuildLimit{30000};
// Copies that changed while being copied are retried at most this often in a row before the
// attempt counts as failed (the file is read again on its next change).
inline constexpr int kCopyRetries = 20;

class SnapshotFollower {
public:
    struct Status {
        std::filesystem::path path;
        bool has_snapshot = false;
        uint64_t generation = 0;  // of the current snapshot; 0 when there is none
        std::string error;        // of the last attempt; empty when it succeeded
        std::chrono::system_clock::time_point last_success{};  // epoch when never
        uint64_t attempts = 0;    // finished attempts to read the current path
        bool loading = false;
        // Of the current snapshot: how long its read took, and whether only some tables were
        // read again (changed_tables) or the whole file.
        std::chrono::milliseconds read_time{0};
        bool whole_read = true;
        std::vector<std::string> changed_tables;
        std::vector<TableKeys> changed_keys;
    };

    struct Options {
        std::chrono::milliseconds quiet = kQuietTime;
        std::chrono::milliseconds stat_interval = kStatInterval;
        std::chrono::milliseconds build_limit = kBuildLimit;
        ImageBuilder build = nullptr;  // the child's work; nullptr: build_snapshot_image
        // Change events of the file system (inotify on Linux). Off, or on a network share (CIFS, NFS)
        // where none arrive, a change is seen by the stat every stat_interval.
        bool change_events = true;
    };

    // Starts following at once; a missing file is no error here (status() tells).
    explicit SnapshotFollower(std::filesystem::path mdb);
    SnapshotFollower(std::filesystem::path mdb, Options options);
    // Stops the follower's thread; a build in progress is waited for (bounded by build_limit).
    ~SnapshotFollower();
    SnapshotFollower(const SnapshotFollower&) = delete;
    SnapshotFollower& operator=(const SnapshotFollower&) = delete;

    // The newest good snapshot, or nullptr before the first successful read of the path.
    std::shared_ptr<const Snapshot> current() const;
    Status status() const;

    // Follows another file from now on. The snapshot of the old file is dropped at once, so no
    // page of the old file is served as the new one.
    void set_path(std::filesystem::path mdb);

    // Waits until an attempt to read the current path has finished (at once when one has), or
    // the timeout passed. Returns the status then (for "open database": set_path, then this).
    Status wait_for_attempt(std::chrono::milliseconds timeout);

    // Called on the follower's thread after every attempt and after set_path. It must not
    // destroy the follower; it may call current(), status() and set_path().
    void on_change(std::function<void(const Status&)> callback);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ringolan::db
