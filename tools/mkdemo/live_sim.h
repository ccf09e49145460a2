// The live simulator on one open demo file: chooses a change, writes its pages in order
// (live_store.h) with plain positioned writes, no journal and no sync, and keeps the state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "db/jet/file_pages.h"
#include "platform/file.h"
#include "tools/mkdemo/live_change.h"
#include "tools/mkdemo/live_state.h"
#include "tools/mkdemo/rng.h"

namespace ringolan::demo {

struct LiveCounts {
    uint64_t changes = 0;
    uint64_t shots = 0;        // shots added to a card
    uint64_t cards = 0;        // new cards (a scheiben and a zuordnung row each)
    uint64_t corrections = 0;  // shots drawn again
    uint64_t pages = 0;        // page writes
    uint64_t repaired = 0;     // rows put right before the first change
};

class Simulator {
public:
    // Called after each page write (tests stop a change there by throwing).
    using PageHook = std::function<void()>;

    // Opens and locks the file (the lock of our own writers) and reads the competition.
    // Throws Error with the reason when the file cannot be used.
    Simulator(const std::filesystem::path& file, uint64_t seed, PageHook hook = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Puts right what disagrees with the cards (a run stopped in the middle of a change).
    void repair();
    // Makes one change; false when nothing is left to change.
    bool step();
    const LiveCounts& counts() const { return counts_; }
    // "STARTNR SHOTS SUM10" of the shooter the last step changed: his start number, the shots on
    // all his cards and their rings in tenths (what his answers show from then on).
    std::string last_change() const;

private:
    Change choose();
    bool write(Change&& c);
    bool open_for_shots(int32_t result) const;
    void update_open(int32_t result);

    std::filesystem::path path_;
    platform::File file_;
    std::unique_ptr<jet::FilePages> pages_;
    LiveTables tables_;
    LiveState state_;
    uint64_t seed_;
    Rng rng_;
    PageHook hook_;
    std::vector<int32_t> ranked_;    // results with a rank: the ones changed
    std::vector<int32_t> open_;      // of these, those with an empty place or room for a card
    std::vector<int32_t> open_at_;   // result -> index in open_, -1
    std::vector<bool> closed_;       // results whose rank rows no longer fit a longer text
    bool tables_grow_ = true;        // scheiben and zuordnung took new rows so far
    LiveCounts counts_;
    int32_t last_result_ = -1;
};

}  // namespace ringolan::demo
