// A change put into the file's pages, and the order its pages are written in:
//   1. scheiben: the changed card's page; for a new card its data page, then the usage maps,
//      then the definition with the row count;
//   2. zuordnung: the same for a new card's assignment;
//   3. mannschaft: the teams' pages;
//   4. raenge: the pages with other shooters' ranks, the pages with the changed result's own
//      rows last.
// A reader between two of these writes sees the cards changed and the ranks not yet (the
// invariant of live_invariant.h broken), or a new card not yet assigned (the old state).
// Every page written is whole and consistent in itself; no page is listed before it is written.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "db/jet/file_pages.h"
#include "tools/mkdemo/live_change.h"

namespace ringolan::demo {

enum class Stage : int { card_rows, card_maps, card_count, assign_rows, assign_maps, assign_count, teams, ranks, own_ranks };

// The pages a change touches, each at the latest stage that changed it.
class PageOrder {
public:
    void touch(uint32_t page, Stage stage);
    // Page numbers in write order: by stage, then by number.
    std::vector<uint32_t> pages() const;

private:
    std::map<uint32_t, Stage> stage_;
};

// No new row fits: the table's last page is full and its maps cannot list a new page.
class TableFull : public jet::Unsupported {
public:
    using Unsupported::Unsupported;
};

// Puts the change's rows into the pages (pending in `pages`, each touched page noted in
// `order`); returns where a new card's scheiben row went. Throws TableFull, or
// jet::Unsupported when a changed row no longer fits its page; the caller discards then.
RowAt store_change(jet::FilePages& pages, const LiveTables& t, const LiveState& s, const Change& c, PageOrder& order);

}  // namespace ringolan::demo
