// The one open competition file, offered to the pages as the newest consistent snapshot.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "db/snapshot/follower.h"

namespace ringolan::db {

class ResultsDatabase {
public:
    ResultsDatabase();
    ~ResultsDatabase();

    // Closes the open file and opens path: true when the file could be read into a snapshot,
    // false otherwise (then the database stays closed, with DatabasePath() already set to path).
    // Waits for the first read.
    bool OpenDatabase(const std::filesystem::path& path);
    void Close();
    bool Connected() const;

    // The file of the last OpenDatabase, opened or not; empty before the first.
    const std::filesystem::path& DatabasePath() const { return path_; }
    // The newest snapshot of the open file (nullptr when closed). Take it once per page.
    std::shared_ptr<const Snapshot> Current() const;
    SnapshotFollower::Status Status() const;
    // Called on the follower's thread after every later read attempt of the open file (not for
    // the first read, which OpenDatabase reports). Kept across OpenDatabase calls.
    void OnChange(std::function<void(const SnapshotFollower::Status&)> callback);

private:
    std::function<void(const SnapshotFollower::Status&)> on_change_;
    std::filesystem::path path_;
    std::unique_ptr<SnapshotFollower> follower_;
};

}  // namespace ringolan::db
