// One change of a running competition, computed from the state without touching it: the
// cards of one result, then the ranks and teams that follow from its new aggregates.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/mkdemo/live_state.h"
#include "tools/mkdemo/rng.h"

namespace ringolan::demo {

enum class ChangeKind { shot, card, correction, repair };

struct CardEdit {
    int32_t card;
    Target target;
};
struct RankEdit {
    int32_t rank;
    RankRow row;  // the values to store
};
struct TeamEdit {
    int32_t team;
    Team team_values;
};
struct OrderEdit {
    int32_t list;
    std::vector<int32_t> order;
};

struct Change {
    ChangeKind kind = ChangeKind::repair;
    int32_t result = -1;             // the result whose cards change; -1 for repairs alone
    Result agg;                      // its new aggregates
    std::vector<CardEdit> cards;     // existing cards with new values
    std::optional<Target> new_card;  // a card added after the result's last
    std::vector<OrderEdit> orders;
    std::vector<RankEdit> ranks;     // only rows whose stored values change
    std::vector<TeamEdit> teams;
};

// Where a new hit of a result lands: the group size follows the shots it has, the mean point
// of impact is fixed per result and seed.
struct Marksman {
    uint64_t seed;
    Rng& rng;
};

// The next empty place of the result's last card filled (that card must have one).
Change shot_change(const LiveState& s, int32_t result, Marksman& m);
// A new card after the last, with its first shot.
Change card_change(const LiveState& s, int32_t result, Marksman& m);
// One shot of the result drawn again (a scoring correction); a shot where it has none.
Change correction_change(const LiveState& s, int32_t result, Marksman& m);
// Every stored card total, rank and team that disagrees with the cards, put right.
Change repairs(const LiveState& s);

// True when the result's last card has an empty place.
bool has_empty_place(const LiveState& s, const LiveResult& r);
// Cards a result may have: the discipline's number, bought Teiler cards up to kMaxBoughtCards.
int card_limit(const DisciplineSpec& d);
inline constexpr int kMaxBoughtCards = 6;
// A new card is shot seven minutes after the one before (zuordnung.Zeit, in days).
inline constexpr double kCardInterval = 420.0 / 86400;

// Takes the change's values into the state once its pages are written; new_card_at is where
// the new card's scheiben row went.
void apply_change(LiveState& s, Change&& c, RowAt new_card_at);

}  // namespace ringolan::demo
