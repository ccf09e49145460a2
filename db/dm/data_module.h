// The data module: the connection string and the one open competition file, offered to the
// pages as the newest consistent snapshot.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "db/snapshot/follower.h"

namespace ringolan::db {

// The connection string the data module starts with (its data source is set before every open).
extern const std::string_view kConnectionTemplate;

// Replaces the value of the first "Data Source=" key (found in any letter case; the key keeps its
// spelling) by path followed by ";", dropping the old value up to and including its ";".
std::string ReplaceDataSource(std::string_view connection_string, std::string_view path);

// The database file a connection string names, as the engine reads it: pairs separated by ";",
// each "key=value". Returns false when a pair has no "=" (a path with ";" breaks the string
// this way) or when there is no data source.
bool ParseDataSource(std::string_view connection_string, std::string& path);

class TDM {
public:
    TDM();
    ~TDM();

    // Closes the open file, points the connection string at path and opens it: true when the
    // file could be read into a snapshot, false otherwise (then the data module stays closed,
    // with the new path already in the connection string). Waits for the first read.
    bool OpenDatabase(const std::string& path);
    void Close();
    bool Connected() const;

    const std::string& ConnectionString() const { return connection_string_; }
    // The newest snapshot of the open file (nullptr when closed). Take it once per page.
    std::shared_ptr<const Snapshot> Current() const;
    SnapshotFollower::Status Status() const;
    // Called on the follower's thread after every later read attempt of the open file (not for
    // the first read, which OpenDatabase reports). Kept across OpenDatabase calls.
    void OnChange(std::function<void(const SnapshotFollower::Status&)> callback);

private:
    std::function<void(const SnapshotFollower::Status&)> on_change_;
    std::string connection_string_;
    std::unique_ptr<SnapshotFollower> follower_;
};

}  // namespace ringolan::db
