// What changed in the competition file between two states the follower read, joined from what
// each state says of its change against the state before (SnapshotInfo). Live publishing
// compares the newest state with the one the site acknowledged, which may lie several states
// back: the follower reads every state while a batch is made and sent.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "db/snapshot/snapshot.h"

namespace ringolan::upload {

struct FileChanges {
    std::vector<std::string> tables;  // catalog names
    // Of some of those tables, per key column: the keys of every row that differs.
    std::vector<db::TableKeys> keys;
};

// Keys of one column joined over several states are given up beyond this many.
inline constexpr std::size_t kMaxJoinedKeys = 4 * db::kMaxChangedKeys;
// States noted at most; older ones are forgotten (a batch from before them reads every table).
inline constexpr std::size_t kMaxNotedStates = 256;

class ChangeChain {
public:
    // Notes a state the follower read (from any thread).
    void note(const db::SnapshotInfo& info);
    // What changed from generation `from` to generation `to`; nullopt when a step between is not
    // known (a whole read, a state not noted). States older than `from` are forgotten.
    std::optional<FileChanges> between(std::uint64_t from, std::uint64_t to);

private:
    struct Step {
        std::uint64_t base = 0;
        std::vector<std::string> tables;
        std::vector<db::TableKeys> keys;
    };
    std::mutex mutex_;
    std::map<std::uint64_t, Step> steps_;  // by generation
};

}  // namespace ringolan::upload
