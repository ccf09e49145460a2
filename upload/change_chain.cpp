#include "upload/change_chain.h"

#include <set>
#include <utility>

#include "common/ascii.h"

namespace ringolan::upload {

void ChangeChain::note(const db::SnapshotInfo& info) {
    std::lock_guard lock(mutex_);
    steps_[info.generation] = {info.base_generation, info.changed_tables, info.changed_keys};
    // While no batch is acknowledged (the site cannot be reached), the oldest states go.
    while (steps_.size() > kMaxNotedStates) steps_.erase(steps_.begin());
}

namespace {

const db::TableKeys* keys_of(const std::vector<db::TableKeys>& keys, std::string_view table, std::string_view column) {
    for (const db::TableKeys& k : keys)
        if (text::equal_ignoring_case(k.table, table) && text::equal_ignoring_case(k.column, column)) return &k;
    return nullptr;
}

}  // namespace

std::optional<FileChanges> ChangeChain::between(std::uint64_t from, std::uint64_t to) {
    std::lock_guard lock(mutex_);
    steps_.erase(steps_.begin(), steps_.upper_bound(from));
    std::vector<const Step*> chain;
    for (std::uint64_t g = to; g != from;) {
        const auto it = steps_.find(g);
        if (from == 0 || it == steps_.end() || it->second.base == 0 || it->second.base >= g) return std::nullopt;
        chain.push_back(&it->second);
        g = it->second.base;
    }
    // Per table (lower case): its name; per key column: the keys joined, or none once a step
    // changed the table without telling that column's keys.
    std::map<std::string, std::string> tables;
    std::map<std::pair<std::string, std::string_view>, std::optional<std::set<std::int64_t>>> joined;
    for (const Step* step : chain) {
        for (const std::string& table : step->tables) {
            const std::string lower = text::ascii_lower(table);
            tables.emplace(lower, table);
            for (const db::KeyColumn& column : db::key_columns_of(table)) {
                const auto at = joined.try_emplace({lower, column.column}, std::set<std::int64_t>{}).first;
                const db::TableKeys* keys = keys_of(step->keys, table, column.column);
                if (!keys) at->second.reset();
                if (!at->second) continue;
                at->second->insert(keys->values.begin(), keys->values.end());
                if (at->second->size() > kMaxJoinedKeys) at->second.reset();
            }
        }
    }
    FileChanges out;
    for (const auto& [lower, name] : tables) out.tables.push_back(name);
    for (const auto& [column, keys] : joined)
        if (keys) out.keys.push_back({tables.at(column.first), std::string(column.second), {keys->begin(), keys->end()}});
    return out;
}

}  // namespace ringolan::upload
