#include "db/snapshot/read_loop.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "db/mdbread/page_reader.h"
#include "db/snapshot/file_mirror.h"
#include "db/snapshot/snapshot_database.h"
#include "platform/memory_file.h"
#include "platform/process.h"
#include "platform/stderr_capture.h"

namespace ringolan::db {
namespace {

namespace fs = std::filesystem;
using platform::NativeHandle;

bool read_exact(NativeHandle channel, void* out, std::size_t size) {
    auto* p = static_cast<char*>(out);
    while (size > 0) {
        const std::size_t n = platform::read_channel(channel, p, size);
        if (n == 0) return false;
        p += n;
        size -= n;
    }
    return true;
}

std::vector<uint8_t> frame(char tag, const std::string& payload) {
    std::vector<uint8_t> out(9 + payload.size());
    out[0] = uint8_t(tag);
    const uint64_t size = payload.size();
    std::memcpy(out.data() + 1, &size, 8);
    std::memcpy(out.data() + 9, payload.data(), payload.size());
    return out;
}

bool answer(NativeHandle channel, char tag, const std::string& payload, NativeHandle handle = platform::kNoHandle) {
    const std::vector<uint8_t> bytes = frame(tag, payload);
    return handle == platform::kNoHandle ? platform::write_channel(channel, bytes.data(), bytes.size())
                                         : platform::write_channel_with_handle(channel, bytes.data(), bytes.size(), handle);
}

// What the reader knows between commands.
struct ReadState {
    explicit ReadState(const fs::path& folder) : mirror(folder / "copy.mdb") {}
    FileMirror mirror;
    SnapshotDatabase database;
    uint64_t state = 0;    // answers given, counted
    uint64_t full_at = 0;  // the state of the last full read
    std::map<std::string, uint64_t> changed_at;
    // Of each key column, the states that changed its table since the last full read, with the
    // keys changed (none when not known); the oldest are let go.
    struct KeyedChange {
        uint64_t state;
        std::optional<std::vector<int64_t>> keys;
    };
    struct KeyLog {
        uint64_t let_go_upto = 0;  // the newest state let go
        std::vector<KeyedChange> changes;
    };
    std::map<std::pair<std::string, std::string>, KeyLog> key_log;  // by table and column

    void record(const TableChanges& touched) {
        for (const std::string& table : touched.tables) {
            changed_at[table] = state;
            for (const KeyColumn& key : key_columns_of(table)) {
                const auto told = std::find_if(touched.keys.begin(), touched.keys.end(), [&](const TableKeys& k) {
                    return k.table == table && k.column == key.column;
                });
                KeyLog& log = key_log[{table, std::string(key.column)}];
                log.changes.push_back({state, told == touched.keys.end() ? std::nullopt : std::optional(told->values)});
                if (log.changes.size() > 256) {
                    log.let_go_upto = log.changes[127].state;
                    log.changes.erase(log.changes.begin(), log.changes.begin() + 128);
                }
            }
        }
    }

    // "table.column:key,key,..." for each key column of a table changed since acknowledged
    // whose changed keys since then are all known; tab-separated.
    std::string keys_since(uint64_t acknowledged) const {
        std::string text;
        for (const auto& [column, log] : key_log) {
            if (log.let_go_upto > acknowledged) continue;
            std::set<int64_t> keys;
            bool known = true, changed = false;
            for (const KeyedChange& change : log.changes) {
                if (change.state <= acknowledged) continue;
                changed = true;
                if (change.keys) keys.insert(change.keys->begin(), change.keys->end());
                else known = false;
            }
            if (!changed || !known || keys.size() > kMaxChangedKeys) continue;
            text += (text.empty() ? "" : "\t") + column.first + '.' + column.second + ':';
            for (auto it = keys.begin(); it != keys.end(); ++it)
                text += (it == keys.begin() ? "" : ",") + std::to_string(*it);
        }
        return text;
    }

    std::string describe(uint64_t acknowledged, bool full, std::size_t bytes) const {
        const platform::FileState& f = mirror.state();
        std::string text = "state=" + std::to_string(state) + "\nfull=" + (full ? "1" : "0") +
                           "\nbytes=" + std::to_string(bytes) + "\nchanged=";
        if (acknowledged == 0 || acknowledged < full_at || acknowledged > state) {
            text += '*';
        } else {
            bool first = true;
            for (const auto& [table, at] : changed_at) {
                if (at <= acknowledged) continue;
                text += (first ? "" : "\t") + table;
                first = false;
            }
            text += "\nkeys=" + keys_since(acknowledged);
        }
        return text + "\ndevice=" + std::to_string(f.device) + "\ninode=" + std::to_string(f.inode) +
               "\nsize=" + std::to_string(f.size) + "\nmtime=" + std::to_string(f.mtime_ns) + "\n";
    }
};

// Brings the database to the copy; "" or the error. full tells whether it was read whole.
std::string bring_up_to_date(ReadState& s, bool& full, TableChanges& touched) {
    full = false;
    const std::string error = watch_libmdb(s.mirror.copy(), [&] {
        mdbread::PageReader reader(s.mirror.copy(), s.mirror.bytes());
        const std::vector<ChangedPage> pending = s.mirror.pending();
        // A file written anew (most pages differ) is read whole: deleting and inserting every
        // row would take longer.
        const uint64_t pages = s.mirror.state().size / 4096 + 1;
        try {
            if (pending.size() * 3 > pages) throw NeedsFullRead("most pages changed");
            touched = s.database.update(reader, pending);
        } catch (const NeedsFullRead&) {
            full = true;
            s.database.rebuild(reader, s.mirror.copy());
        }
    });
    if (!error.empty()) s.database.discard();
    return error;
}

// Hands the database's image over in a sealed memory file.
bool send_image(NativeHandle channel, ReadState& s, const fs::path& source, uint64_t acknowledged, bool full) {
    const std::span<const uint8_t> image = s.database.image();
    const NativeHandle memory = platform::create_memory_file("ringolan-snapshot");
    const bool made = memory != platform::kNoHandle && platform::write_channel(memory, image.data(), image.size()) &&
                      platform::seal_memory_file(memory);
    if (!made) {
        platform::close_memory_file(memory);
        return answer(channel, kAnswerError, source.string() + ": cannot hand the snapshot over (out of memory)");
    }
    const bool sent = answer(channel, kAnswerImage, s.describe(acknowledged, full, image.size()), memory);
    platform::close_memory_file(memory);
    return sent;
}

bool handle_read(NativeHandle channel, ReadState& s, const fs::path& source, uint64_t acknowledged) {
    switch (s.mirror.refresh(source)) {
    case FileMirror::Outcome::changing: return answer(channel, kAnswerChanging, {});
    case FileMirror::Outcome::failed: return answer(channel, kAnswerError, s.mirror.error());
    case FileMirror::Outcome::read: break;
    }
    if (!s.mirror.has_pending() && s.database.built()) {
        // Nothing new; an image the server did not take (it saw a write meanwhile) is sent again.
        if (acknowledged == s.state) return answer(channel, kAnswerSame, s.describe(acknowledged, false, 0));
        return send_image(channel, s, source, acknowledged, false);
    }
    bool full = false;
    TableChanges touched;
    const std::string error = bring_up_to_date(s, full, touched);
    if (!error.empty()) return answer(channel, kAnswerError, error);
    s.mirror.settle();
    ++s.state;
    if (full) {
        s.full_at = s.state;
        s.key_log.clear();
    }
    s.record(touched);
    return send_image(channel, s, source, acknowledged, full);
}

}  // namespace

namespace {

// The first line of libmdb's output that means data were lost, or "".
std::string libmdb_loss_report(const std::string& log) {
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        for (const char* sign : {"beyond EOF", "failed", "Invalid", "invalid"}) {
            if (line.find(sign) != std::string::npos) return line;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace

std::string watch_libmdb(const fs::path& file, const std::function<void()>& work) {
    platform::StderrCapture capture;
    std::string error;
    try {
        work();
    } catch (const std::exception& e) {
        error = e.what();
    }
    const std::string log = capture.finish();
    if (!log.empty()) std::fwrite(log.data(), 1, log.size(), stderr);
    const std::string loss = libmdb_loss_report(log);
    if (error.empty() && !loss.empty()) error = file.string() + ": damaged or incomplete file (libmdb: " + loss + ")";
    return error;
}

int serve_reads(NativeHandle channel, const fs::path& folder) {
    ReadState state(folder);
    for (;;) {
        char tag = 0;
        uint64_t acknowledged = 0;
        uint32_t length = 0;
        if (!read_exact(channel, &tag, 1)) return 0;  // the server let go
        if (tag != kReadCommand || !read_exact(channel, &acknowledged, 8) || !read_exact(channel, &length, 4) ||
            length > 65536)
            return 2;
        std::string path(length, '\0');
        if (!read_exact(channel, path.data(), length)) return 2;
        if (!handle_read(channel, state, path, acknowledged)) return 3;
    }
}

}  // namespace ringolan::db
