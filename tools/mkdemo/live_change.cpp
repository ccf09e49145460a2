#include "tools/mkdemo/live_change.h"

#include <algorithm>
#include <cmath>

namespace ringolan::demo {
namespace {

const DisciplineSpec& discipline_of(const LiveState& s, const LiveResult& r) { return *s.disciplines[r.agg.disc]; }

void draw_hit(const LiveState& s, const LiveResult& r, Marksman& m, Target& tg, int slot) {
    const DisciplineSpec& d = discipline_of(s, r);
    double sum2 = 0;
    int n = 0;
    for (int32_t c : r.cards) {
        const Target& t = s.cards[c].target;
        for (int i = 0; i < t.shots; ++i, ++n) sum2 += double(t.t[i]) * t.t[i];
    }
    // E[t^2] = 2 sigma^2 for a round normal group
    const double sigma = n > 0 ? std::sqrt(sum2 / (2.0 * n)) : double(ring_width(d.face));
    Rng centre(m.seed, 0x10000 + uint64_t(uint32_t(r.agg.erg_id)));
    const double ox = 0.35 * sigma * centre.normal(), oy = 0.35 * sigma * centre.normal();
    store_hit(d, ox + sigma * m.rng.normal(), oy + sigma * m.rng.normal(), tg, slot);
}

bool same_row(const RankRow& a, const RankRow& b) { return a.rang == b.rang && a.haupt == b.haupt && a.teilerg == b.teilerg && a.e == b.e; }

// The list's order and ranks with the result of rank `moved` at its new place, and the part
// results of that row; moved < 0: the order as it is, part results of every row.
void rerank(const LiveState& s, Change& c, int32_t li, int32_t moved) {
    const LiveList& list = s.lists[li];
    auto agg = [&](int32_t rank) -> const Result& {
        const int32_t res = s.ranks[rank].row.result;
        return res == c.result ? c.agg : s.results[res].agg;
    };
    auto nr = [&](int32_t rank) { return s.results[s.ranks[rank].row.result].startnr; };
    std::vector<int32_t> order = list.order;
    if (moved >= 0) {
        order.erase(std::find(order.begin(), order.end(), moved));
        const auto at = std::lower_bound(order.begin(), order.end(), moved, [&](int32_t x, int32_t y) {
            return ranks_before(list.list, agg(x), nr(x), agg(y), nr(y));
        });
        order.insert(at, moved);
    }
    const DisciplineSpec& d = *s.disciplines[list.list.disc];
    int32_t rang = 0;
    Result previous{};
    for (size_t i = 0; i < order.size(); ++i) {
        const int32_t k = order[i];
        const Result key = ranked_as(list.list, agg(k));
        if (i == 0 || compare_results(list.list.sort, previous, key) != 0) rang = int32_t(i) + 1;
        previous = key;
        const RankRow& stored = s.ranks[k].row;
        if (moved < 0 || k == moved) {
            RankRow row{};
            row.list = stored.list;
            row.result = stored.result;
            row.mid = stored.mid;
            row.rang = rang;
            fill_parts(d, list.list, agg(k), row);
            if (!same_row(row, stored)) c.ranks.push_back({k, std::move(row)});
        } else if (stored.rang != rang) {
            RankRow row = stored;
            row.rang = rang;
            c.ranks.push_back({k, std::move(row)});
        }
    }
    if (order != list.order) c.orders.push_back({li, std::move(order)});
}

// Results and ranks of the list's teams; with a changed result only its teams are counted again.
void recount_teams(const LiveState& s, Change& c, int32_t li) {
    const LiveList& list = s.lists[li];
    const bool whole_rings = !s.disciplines[list.list.disc]->tenths;
    std::vector<Team> teams;
    teams.reserve(list.teams.size());
    for (int32_t t : list.teams) {
        const LiveTeam& lt = s.teams[t];
        teams.push_back(lt.team);
        if (c.result >= 0 && std::find(lt.members.begin(), lt.members.end(), c.result) == lt.members.end()) continue;
        std::vector<int32_t> scores;
        for (int32_t m : lt.members) scores.push_back(team_score(list.list, m == c.result ? c.agg : s.results[m].agg));
        count_team(std::move(scores), whole_rings, teams.back());
    }
    std::vector<Team*> ranked;
    for (Team& t : teams) ranked.push_back(&t);
    rank_teams(ranked);
    for (size_t i = 0; i < teams.size(); ++i) {
        const Team& stored = s.teams[list.teams[i]].team;
        if (teams[i].rang != stored.rang || teams[i].result != stored.result || teams[i].teilerg != stored.teilerg)
            c.teams.push_back({list.teams[i], std::move(teams[i])});
    }
}

// The result's new aggregates from its changed cards, and what follows from them.
void follow(const LiveState& s, Change& c) {
    const LiveResult& r = s.results[c.result];
    std::vector<const Target*> cards = card_targets(s, r);
    for (const CardEdit& e : c.cards)
        for (size_t k = 0; k < r.cards.size(); ++k)
            if (r.cards[k] == e.card) cards[k] = &e.target;
    if (c.new_card) cards.push_back(&*c.new_card);
    c.agg = r.agg;
    c.agg.targets = uint8_t(cards.size());
    aggregate_cards(discipline_of(s, r).face, cards, c.agg);
    for (int32_t k : r.ranks) rerank(s, c, s.ranks[k].row.list, k);
    std::vector<int32_t> team_lists;
    for (int32_t t : r.teams) team_lists.push_back(s.teams[t].team.list);
    std::sort(team_lists.begin(), team_lists.end());
    team_lists.erase(std::unique(team_lists.begin(), team_lists.end()), team_lists.end());
    for (int32_t li : team_lists) recount_teams(s, c, li);
}

Change shot_on_card(const LiveState& s, int32_t result, int32_t card, Marksman& m, ChangeKind kind) {
    Change c;
    c.kind = kind;
    c.result = result;
    Target tg = s.cards[card].target;
    draw_hit(s, s.results[result], m, tg, tg.shots);
    ++tg.shots;
    c.cards.push_back({card, tg});
    follow(s, c);
    return c;
}

}  // namespace

bool has_empty_place(const LiveState& s, const LiveResult& r) {
    return !r.cards.empty() && s.cards[r.cards.back()].target.shots < discipline_of(s, r).shots_per_target;
}

int card_limit(const DisciplineSpec& d) { return sort_by_teiler(d.sort) ? kMaxBoughtCards : d.targets; }

Change shot_change(const LiveState& s, int32_t result, Marksman& m) {
    return shot_on_card(s, result, s.results[result].cards.back(), m, ChangeKind::shot);
}

Change card_change(const LiveState& s, int32_t result, Marksman& m) {
    Change c;
    c.kind = ChangeKind::card;
    c.result = result;
    Target tg{};
    tg.id = s.next_card_id;
    tg.unused_null = m.rng.chance(0.5);
    tg.shots = 1;
    draw_hit(s, s.results[result], m, tg, 0);
    c.new_card = tg;
    follow(s, c);
    return c;
}

Change correction_change(const LiveState& s, int32_t result, Marksman& m) {
    const LiveResult& r = s.results[result];
    int shots = 0;
    for (int32_t card : r.cards) shots += s.cards[card].target.shots;
    if (shots == 0) return shot_on_card(s, result, r.cards.front(), m, ChangeKind::correction);
    int pick = int(m.rng.below(uint64_t(shots)));
    size_t k = 0;
    while (pick >= s.cards[r.cards[k]].target.shots) pick -= s.cards[r.cards[k++]].target.shots;
    Change c;
    c.kind = ChangeKind::correction;
    c.result = result;
    Target tg = s.cards[r.cards[k]].target;
    draw_hit(s, r, m, tg, pick);
    c.cards.push_back({r.cards[k], tg});
    follow(s, c);
    return c;
}

Change repairs(const LiveState& s) {
    Change c;
    for (size_t i = 0; i < s.cards.size(); ++i)
        if (s.cards[i].sum_stale) c.cards.push_back({int32_t(i), s.cards[i].target});
    for (size_t li = 0; li < s.lists.size(); ++li) {
        if (s.lists[li].list.disc < 0) continue;
        rerank(s, c, int32_t(li), -1);
        if (!s.lists[li].teams.empty()) recount_teams(s, c, int32_t(li));
    }
    return c;
}

void apply_change(LiveState& s, Change&& c, RowAt new_card_at) {
    for (CardEdit& e : c.cards) {
        s.cards[e.card].target = e.target;
        s.cards[e.card].sum_stale = false;
    }
    if (c.result >= 0) {
        LiveResult& r = s.results[c.result];
        if (c.new_card) {
            r.cards.push_back(int32_t(s.cards.size()));
            s.cards.push_back(LiveCard{*c.new_card, new_card_at});
            s.next_card_id = c.new_card->id + 1;
            r.last_time += kCardInterval;
        }
        r.agg = c.agg;
    }
    for (OrderEdit& o : c.orders) s.lists[o.list].order = std::move(o.order);
    for (RankEdit& e : c.ranks) s.ranks[e.rank].row = std::move(e.row);
    for (TeamEdit& e : c.teams) s.teams[e.team].team = std::move(e.team_values);
}

}  // namespace ringolan::demo
