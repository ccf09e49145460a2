// The competition of a demo file as the live simulator keeps it: the rows it changes, their
// values as stored and their places in the file.
#pragma once

#include <cstdint>
#include <vector>

#include "db/jet/file_pages.h"
#include "db/jet/table_def.h"
#include "tools/mkdemo/demo_model.h"

namespace ringolan::demo {

struct RowAt {
    uint32_t page = 0, row = 0;
};

struct LiveCard {
    Target target;           // as stored: score10 from R_n, shots = leading slots with t_n > 0
    RowAt at;
    bool sum_stale = false;  // summe differs from the sum of the shots
};

struct LiveResult {
    Result agg;                  // aggregates of the cards; agg.targets is their number
    int32_t startnr = 0;
    int32_t stand = 0;           // zuordnung.Stand of its cards
    double last_time = 0;        // zuordnung.Zeit of the last card
    std::vector<int32_t> cards;  // LiveCard indices in card order (zuordnung.pos)
    std::vector<int32_t> ranks;  // LiveRank indices
    std::vector<int32_t> teams;  // LiveTeam indices of the teams it counts for
};

struct LiveRank {
    RankRow row;  // list: LiveList index, result: LiveResult index; values as stored
    RowAt at;
};

struct LiveList {
    ResultList list;              // kind, sort and discipline (members unused)
    std::vector<int32_t> order;   // LiveRank indices, best first, ties by start number
    std::vector<int32_t> teams;   // LiveTeam indices (team lists)
};

struct LiveTeam {
    Team team;                     // list: LiveList index; rang, result and teilerg as stored
    std::vector<int32_t> members;  // LiveResult indices
    RowAt at;
};

// The tables the simulator writes, with the columns it sets.
struct LiveTables {
    jet::TableDef scheiben, zuordnung, raenge, mannschaft;
    const jet::DefColumn* rang = nullptr;
    const jet::DefColumn* haupt = nullptr;
    const jet::DefColumn* teilerg = nullptr;
    const jet::DefColumn* e[7] = {};
    const jet::DefColumn* mrang = nullptr;
    const jet::DefColumn* mergebnis = nullptr;
    const jet::DefColumn* mteilerg = nullptr;
};

struct LiveState {
    std::vector<const DisciplineSpec*> disciplines;  // DP_ID - 1
    std::vector<LiveCard> cards;
    std::vector<LiveResult> results;
    std::vector<LiveRank> ranks;
    std::vector<LiveList> lists;
    std::vector<LiveTeam> teams;
    int32_t next_card_id = 1;  // Sch_id of the next new card
};

// Reads the competition. Throws jet::Unsupported when the file is not laid out as the demo
// writes it (tables, columns, disciplines, ranks without their result).
LiveState load_state(jet::FilePages& pages, LiveTables& tables);

// The list order of the ranks: by the list's rule, ties by start number.
bool ranks_before(const ResultList& list, const Result& a, int32_t startnr_a, const Result& b, int32_t startnr_b);

// Card pointers of a result, for aggregate_cards.
std::vector<const Target*> card_targets(const LiveState& s, const LiveResult& r);

}  // namespace ringolan::demo
