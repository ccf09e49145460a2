// ringolan-mkdemo --live: changes an existing demo file in place the way a scoring program does
// while a competition runs (shots, new cards, corrections, with ranks and teams following),
// page by page and without a journal, so that readers catch it in the middle of a change.
// The invariant that holds between changes: live_invariant.h; the write order: live_store.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>

#include "tools/mkdemo/live_sim.h"

namespace ringolan::demo {

struct LiveOptions {
    std::filesystem::path file;
    double per_second = 0;            // changes per second; 0: as fast as possible
    std::optional<double> seconds;    // with per_second: stop after per_second * seconds changes
    std::optional<uint64_t> changes;  // stop after this many changes
    uint64_t seed = 1;
    // One line per change: milliseconds since 1970 after its last page write, then
    // Simulator::last_change() (benchmarks measure from it how soon pages show the change).
    std::FILE* trace = nullptr;
};

struct LiveSummary {
    LiveCounts counts;
    double seconds = 0;
    bool interrupted = false;  // stop was set
    bool exhausted = false;    // nothing was left to change
};

// Runs until the number of changes is reached, `stop` turns true (looked at between changes and
// while waiting) or nothing is left to change. The same file, seed and number of changes give
// the same file. Prints a progress line each second to `progress` (when not null). Throws Error
// when the file cannot be used or written.
LiveSummary run_live(const LiveOptions& options, const std::atomic<bool>& stop, std::FILE* progress,
                     Simulator::PageHook after_page_write = {});

}  // namespace ringolan::demo
