#include "db/snapshot/reader_service.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <map>

#include "db/snapshot/read_loop.h"
#include "db/snapshot/snapshot_child.h"
#include "platform/heap_tuning.h"
#include "platform/memory_file.h"

namespace ringolan::db {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using platform::ChildProcess;

std::map<std::string, std::string> parse_lines(const std::string& text) {
    std::map<std::string, std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return out;
}

uint64_t number(const std::map<std::string, std::string>& fields, const char* key) {
    const auto it = fields.find(key);
    return it == fields.end() ? 0 : std::strtoull(it->second.c_str(), nullptr, 10);
}

// Reads exactly size bytes before the deadline; false on the channel's end, an error or time-out.
bool receive(ChildProcess& child, void* out, std::size_t size, Clock::time_point deadline, bool& timed_out) {
    auto* p = static_cast<char*>(out);
    while (size > 0) {
        const auto now = Clock::now();
        if (now >= deadline) {
            timed_out = true;
            return false;
        }
        std::size_t got = 0;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1);
        const ChildProcess::Read r = child.read(p, size, std::min(wait, std::chrono::milliseconds(50)), got);
        if (r == ChildProcess::Read::nothing) {
            if (child.try_wait()) return false;
            continue;
        }
        if (r != ChildProcess::Read::data) return false;
        p += got;
        size -= got;
    }
    return true;
}

// The items of a tab-separated list.
std::vector<std::string> tab_items(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find('\t', start);
        if (end == std::string::npos) end = list.size();
        items.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

// "table.column:key,key,..."; nothing for an item that is not so.
std::optional<TableKeys> keys_item(const std::string& item) {
    const size_t colon = item.find(':');
    const size_t dot = item.rfind('.', colon);
    if (colon == std::string::npos || dot == std::string::npos || dot == 0) return std::nullopt;
    TableKeys keys{item.substr(0, dot), item.substr(dot + 1, colon - dot - 1), {}};
    for (size_t at = colon + 1; at < item.size();) {
        int64_t value = 0;
        const auto [end, ec] = std::from_chars(item.data() + at, item.data() + item.size(), value);
        if (ec != std::errc() || (end != item.data() + item.size() && *end != ',')) return std::nullopt;
        keys.values.push_back(value);
        at = size_t(end - item.data()) + 1;
    }
    std::sort(keys.values.begin(), keys.values.end());
    return keys;
}

void fill_from(ReaderService::Answer& a, const std::map<std::string, std::string>& fields) {
    a.state = number(fields, "state");
    a.full = number(fields, "full") != 0;
    a.read.exists = true;
    a.read.device = number(fields, "device");
    a.read.inode = number(fields, "inode");
    a.read.size = number(fields, "size");
    a.read.mtime_ns = int64_t(number(fields, "mtime"));
    const auto changed = fields.find("changed");
    a.all_changed = changed == fields.end() || changed->second == "*";
    if (a.all_changed) return;
    a.changed_tables = tab_items(changed->second);
    if (const auto keys = fields.find("keys"); keys != fields.end())
        for (const std::string& item : tab_items(keys->second))
            if (auto k = keys_item(item)) a.changed_keys.push_back(std::move(*k));
}

}  // namespace

ReaderService::ReaderService(fs::path folder) : folder_(std::move(folder)) {}

ReaderService::~ReaderService() { stop_child(); }

void ReaderService::stop_child() {
    if (child_) child_->kill_and_wait();
    child_.reset();
    acknowledged_ = 0;
}

ReaderService::Answer ReaderService::read(const fs::path& source, std::chrono::milliseconds limit) {
    const auto start = Clock::now();
    const auto deadline = start + limit;
    Answer a;
    auto fail = [&](std::string why) {
        stop_child();
        a.kind = Answer::Kind::failed;
        a.error = source.string() + ": " + why;
        a.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        return a;
    };
    if (!child_) {
        const fs::path program = snapshot_reader_program();
        if (program.empty()) return fail("the reader program ringolan-snapshot-reader was not found");
        child_.emplace(ChildProcess::start(
            {program, {"--serve", folder_.string()}, platform::large_heap_environment(), /*two_way=*/true}));
        acknowledged_ = 0;
    }
    const std::string path = source.string();
    std::string command(1, kReadCommand);
    command.append(reinterpret_cast<const char*>(&acknowledged_), 8);
    const auto length = uint32_t(path.size());
    command.append(reinterpret_cast<const char*>(&length), 4);
    command += path;
    if (!child_->send(command.data(), command.size())) return fail("the reader ended unexpectedly");
    uint8_t header[9];
    bool timed_out = false;
    if (!receive(*child_, header, sizeof header, deadline, timed_out)) {
        if (timed_out) return fail("reading did not finish within " + std::to_string(limit.count()) + " ms; the reader was stopped");
        const auto ended = child_->try_wait();
        return fail(ended && ended->crashed ? "the reader crashed with signal " + std::to_string(ended->code)
                                            : "the reader ended without a complete answer");
    }
    uint64_t size = 0;
    std::memcpy(&size, header + 1, 8);
    if (size > (1u << 20)) return fail("the reader answered garbage");
    std::string payload(size, '\0');
    if (!receive(*child_, payload.data(), payload.size(), deadline, timed_out)) return fail("the reader ended without a complete answer");
    a.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    switch (char(header[0])) {
    case kAnswerChanging: a.kind = Answer::Kind::changing; return a;
    case kAnswerError:
        a.kind = Answer::Kind::failed;
        a.error = payload.empty() ? source.string() + ": the reader failed without saying why" : payload;
        return a;
    case kAnswerSame: a.kind = Answer::Kind::same; fill_from(a, parse_lines(payload)); return a;
    case kAnswerImage: break;
    default: return fail("the reader answered garbage");
    }
    const platform::NativeHandle memory = child_->take_handle();
    const auto fields = parse_lines(payload);
    fill_from(a, fields);
    if (memory == platform::kNoHandle || !platform::is_sealed_memory_file(memory)) {
        platform::close_memory_file(memory);
        return fail("the reader handed over no sealed image");
    }
    a.image = platform::MemoryMap::of_handle(memory, std::size_t(number(fields, "bytes")));
    if (!a.image) return fail("the snapshot image cannot be mapped");
    a.kind = Answer::Kind::image;
    return a;
}

}  // namespace ringolan::db
