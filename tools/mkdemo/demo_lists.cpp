// Result lists (wettb_def) with their ranks, teams and options.
#include <algorithm>
#include <cstdio>
#include <map>

#include "tools/mkdemo/demo_model.h"

namespace ringolan::demo {
namespace {

constexpr int kCounting = 3;  // team members whose results count ("MANNMODE")

double teiler_value(int32_t t) { return t > 0 ? t / 100.0 : 10000.0; }

std::string decimal(int32_t tenths, bool whole) {
    char buf[32];
    if (whole) std::snprintf(buf, sizeof buf, "%d", tenths / 10);
    else std::snprintf(buf, sizeof buf, "%d,%d", tenths / 10, tenths % 10);
    return buf;
}

std::string series_text(const Result& r, bool whole) {
    std::string s;
    for (int k = 0; k < std::min<int>(r.targets, kMaxSeries); ++k) {
        if (!s.empty()) s += ' ';
        s += decimal(r.series10[k], whole);
    }
    return s;
}

}  // namespace

int compare_results(Sort sort, const Result& a, const Result& b) {
    auto cmp = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    auto teiler = [](const Result& r) { return r.best_t > 0 ? r.best_t : INT32_MAX; };
    auto second = [](const Result& r) { return r.second_t > 0 ? r.second_t : INT32_MAX; };
    switch (sort) {
        case Sort::RingBlattl:
            if (int c = cmp(b.total10, a.total10)) return c;
            return cmp(teiler(a), teiler(b));
        case Sort::BlattlRing:
            if (int c = cmp(teiler(a), teiler(b))) return c;
            return cmp(b.total10, a.total10);
        case Sort::Teiler:
            if (int c = cmp(teiler(a), teiler(b))) return c;
            return cmp(second(a), second(b));
        case Sort::RingSerie:
            if (int c = cmp(b.total10, a.total10)) return c;
            for (int k = kMaxSeries - 1; k >= 0; --k)
                if (int c = cmp(b.series10[k], a.series10[k])) return c;
            return 0;
        case Sort::Ring:
        case Sort::Unnamed:
            return cmp(b.total10, a.total10);
    }
    return 0;
}

void fill_parts(const DisciplineSpec& discipline, const ResultList& list, const Result& r, RankRow& row) {
    const bool whole = !discipline.tenths;
    const double total = r.total10 / 10.0;
    if (list.kind == ListKind::TeamRound) {
        row.haupt = r.series10[0] / 10.0;  // the first card is the only series
        row.e[0] = row.e[2] = row.haupt;
        return;
    }
    switch (list.sort) {
        case Sort::BlattlRing:
        case Sort::Teiler:
            row.haupt = teiler_value(r.best_t);
            row.e[0] = row.haupt;
            if (list.sort == Sort::BlattlRing) row.e[1] = r.teiler_sum / 100.0;
            else if (r.second_t > 0) row.e[1] = r.second_t / 100.0;
            row.e[2] = total;
            return;
        case Sort::RingBlattl:
            row.haupt = total;
            row.e[0] = total;
            row.e[1] = teiler_value(r.best_t);
            row.e[2] = r.teiler_sum / 100.0;  // sum of all Teiler, mostly above 10000
            row.e[3] = static_cast<double>(r.inner);
            row.teilerg = series_text(r, whole);
            return;
        case Sort::Ring:
        case Sort::RingSerie:
        case Sort::Unnamed:
            row.haupt = total;
            row.e[0] = total;
            row.e[1] = static_cast<double>(r.inner);
            for (int k = 0; k < std::min(discipline.targets, kMaxSeries); ++k)
                row.e[2 + k] = r.series10[k] / 10.0;  // 0 for a card not shot
            row.teilerg = series_text(r, whole);
            return;
    }
}

Result ranked_as(const ResultList& list, Result r) {
    if (list.kind == ListKind::TeamRound) r.total10 = r.series10[0];
    return r;
}

int32_t team_score(const ResultList& list, const Result& r) {
    return list.kind == ListKind::TeamRound ? r.series10[0] : r.total10;
}

void count_team(std::vector<int32_t> scores, bool whole_rings, Team& team) {
    std::sort(scores.rbegin(), scores.rend());
    int32_t sum = 0;
    team.teilerg.clear();
    for (int i = 0; i < kCounting && i < static_cast<int>(scores.size()); ++i) {
        sum += scores[i];
        if (!team.teilerg.empty()) team.teilerg += '+';
        team.teilerg += decimal(scores[i], whole_rings);
    }
    team.result = sum / 10.0;
}

void rank_teams(const std::vector<Team*>& teams) {
    std::vector<Team*> order = teams;
    std::stable_sort(order.begin(), order.end(), [](const Team* a, const Team* b) { return a->result > b->result; });
    for (size_t i = 0; i < order.size(); ++i)
        order[i]->rang = (i > 0 && order[i]->result == order[i - 1]->result) ? order[i - 1]->rang : static_cast<int32_t>(i) + 1;
}

namespace {

// Ranks the members of a list (standard competition ranking: equal results share a rank).
void rank_list(Model& m, int32_t list_index, const std::map<int32_t, int32_t>& mid_of_shooter) {
    const ResultList& list = m.lists[list_index];
    const size_t n = list.members.size();
    std::vector<Result> keys;
    for (int32_t ri : list.members) keys.push_back(ranked_as(list, m.results[ri]));
    auto key = [&](size_t pos) -> const Result& { return keys[pos]; };
    auto startnr = [&](size_t pos) { return m.shooters[m.results[list.members[pos]].shooter].startnr; };
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int c = compare_results(list.sort, key(a), key(b));
        return c != 0 ? c < 0 : startnr(a) < startnr(b);
    });
    int32_t rang = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i == 0 || compare_results(list.sort, key(order[i - 1]), key(order[i])) != 0) rang = static_cast<int32_t>(i) + 1;
        RankRow row{};
        row.list = list_index;
        row.result = list.members[order[i]];
        row.rang = rang;
        const auto it = mid_of_shooter.find(m.results[row.result].shooter);
        if (it != mid_of_shooter.end()) row.mid = it->second;
        fill_parts(*m.disciplines[m.results[row.result].disc], list, m.results[row.result], row);
        m.ranks.push_back(std::move(row));
    }
}

// Copies the shots of one result onto the next in a list (mirrored left to right) when the
// list has no tie yet, so that equal results and shared ranks always occur.
void ensure_tie(Model& m, const ResultList& list) {
    std::vector<int32_t> v = list.members;
    std::sort(v.begin(), v.end(), [&](int32_t a, int32_t b) {
        return m.results[a].total10 != m.results[b].total10 ? m.results[a].total10 > m.results[b].total10 : a < b;
    });
    for (size_t i = 1; i < v.size(); ++i)
        if (m.results[v[i - 1]].total10 == m.results[v[i]].total10) return;
    for (size_t i = 1; i < v.size(); ++i) {
        const Result& a = m.results[v[i - 1]];
        Result& b = m.results[v[i]];
        bool same = a.targets == b.targets;
        for (int k = 0; same && k < a.targets; ++k)
            same = m.targets[a.first_target + k].shots == m.targets[b.first_target + k].shots;
        if (!same) continue;
        for (int k = 0; k < a.targets; ++k) {
            const Target& from = m.targets[a.first_target + k];
            Target& to = m.targets[b.first_target + k];
            for (int s = 0; s < from.shots; ++s) {
                to.score10[s] = from.score10[s];
                to.t[s] = from.t[s];
                to.w[s] = static_cast<int16_t>((32768 - from.w[s]) % 32768);
            }
        }
        update_aggregates(m, b);
        return;
    }
}

const char* kRoman[] = {"I", "II", "III"};

// Teams of four (three count, a fifth member is a reserve), up to three per club.
std::vector<std::vector<int32_t>> form_teams(Model& m, Rng& rng, const std::vector<int32_t>& results,
                                             std::vector<int32_t>& team_club) {
    std::map<int32_t, std::vector<int32_t>> by_club;
    const int32_t guest_club = static_cast<int32_t>(m.clubs.size()) - 1;
    for (int32_t ri : results) {
        const int32_t club = m.shooters[m.results[ri].shooter].club;
        if (club != guest_club) by_club[club].push_back(ri);
    }
    std::vector<std::vector<int32_t>> teams;
    for (auto& [club, members] : by_club) {
        if (members.size() < 3) continue;
        for (size_t i = members.size(); i > 1; --i) std::swap(members[i - 1], members[rng.below(i)]);
        const size_t full = std::min<size_t>(3, members.size() / 4);
        std::vector<std::vector<int32_t>> own;
        for (size_t k = 0; k < full; ++k) own.emplace_back(members.begin() + 4 * k, members.begin() + 4 * k + 4);
        size_t rest = members.size() - 4 * full;
        size_t next = 4 * full;
        if (rest >= 3 && own.size() < 3) {
            own.emplace_back(members.begin() + next, members.begin() + next + 3);
            next += 3;
            rest -= 3;
        }
        for (size_t k = 0; k < own.size() && rest > 0 && k < 2; ++k, --rest) own[k].push_back(members[next++]);
        for (auto& t : own) {
            teams.push_back(std::move(t));
            team_club.push_back(club);
        }
    }
    return teams;
}

// For each discipline, the results with at least one card.
std::vector<std::vector<int32_t>> shot_results(const Model& m) {
    std::vector<std::vector<int32_t>> shot(m.disciplines.size());
    for (int32_t ri = 0; ri < static_cast<int32_t>(m.results.size()); ++ri)
        if (m.results[ri].targets > 0) shot[m.results[ri].disc].push_back(ri);
    return shot;
}

// Appends a list of discipline d; returns its index.
int32_t add_list(Model& m, int d, std::string titel, ListKind kind, int klasse, std::vector<int32_t> members) {
    const auto& discipline = *m.disciplines[d];
    ResultList l{};
    l.id = static_cast<int32_t>(m.lists.size()) + 1;
    l.titel = std::move(titel);
    l.kind = kind;
    l.team = kind == ListKind::Team || kind == ListKind::TeamRound;
    l.sort = l.team ? Sort::Ring : discipline.sort;
    l.einheit = discipline.einheit;
    l.disc = static_cast<int16_t>(d);
    l.klasse = static_cast<int8_t>(klasse);
    if (kind == ListKind::Hidden || kind == ListKind::TeamRound) l.selekt = 1;
    else if (kind == ListKind::Final) l.selekt = 2;
    else if (d == 1) l.selekt = 0;
    const int minute = kind == ListKind::Final ? 17 * 60 + 30 : 7 * 60 + static_cast<int>(m.lists.size());
    l.zeitstempel = m.event_day + minute / 1440.0;
    l.members = std::move(members);
    m.lists.push_back(std::move(l));
    return static_cast<int32_t>(m.lists.size()) - 1;
}

// Individual lists: by class when a ring discipline has many starters; the first discipline
// also gets a hidden overall list and an empty final. The largest ring list gets a tie.
void make_single_lists(Model& m, const std::vector<std::vector<int32_t>>& shot) {
    int tie_list = -1;
    auto candidate_for_tie = [&](int32_t li, const DisciplineSpec& discipline) {
        if (discipline.sort == Sort::Ring && (tie_list < 0 || m.lists[li].members.size() > m.lists[tie_list].members.size()))
            tie_list = li;
    };
    for (int d = 0; d < static_cast<int>(m.disciplines.size()); ++d) {
        const auto& discipline = *m.disciplines[d];
        const std::string name = discipline.name;
        if (!sort_by_teiler(discipline.sort) && shot[d].size() >= 60) {
            for (int c = 0; c < static_cast<int>(class_names().size()); ++c) {
                std::vector<int32_t> members;
                for (int32_t ri : shot[d])
                    if (m.shooters[m.results[ri].shooter].klasse == c) members.push_back(ri);
                if (members.empty()) continue;
                candidate_for_tie(add_list(m, d, name + " - " + class_names()[c], ListKind::Single, c, std::move(members)),
                                  discipline);
            }
        } else {
            candidate_for_tie(add_list(m, d, name, ListKind::Single, -1, shot[d]), discipline);
        }
        if (d == 0) {
            add_list(m, d, name + " - Gesamtwertung (intern)", ListKind::Hidden, -1, shot[d]);
            add_list(m, d, name + " - Finale", ListKind::Final, -1, {});
        }
    }
    if (tie_list >= 0) ensure_tie(m, m.lists[tie_list]);
}

// The teams of list li (kind Team or TeamRound of discipline d), their results from the best
// kCounting members and their members; returns shooter -> Mann_id.
std::map<int32_t, int32_t> add_teams(Model& m, int d, ListKind kind, int32_t li,
                                     const std::vector<std::vector<int32_t>>& teams,
                                     const std::vector<int32_t>& team_club) {
    const auto& discipline = *m.disciplines[d];
    std::map<int32_t, int32_t> mids;
    std::map<int32_t, int> per_club;
    for (size_t k = 0; k < teams.size(); ++k) {
        Team team{};
        team.mann_id = static_cast<int32_t>(m.teams.size()) + 1;
        team.list = li;
        team.club = team_club[k];
        team.name = m.clubs[team.club].name + " " + kRoman[per_club[team.club]++];
        if (d == 0 && kind == ListKind::Team) team.klasse = "offen";
        std::vector<int32_t> scores;
        for (int32_t ri : teams[k]) {
            const Result& r = m.results[ri];
            scores.push_back(team_score(m.lists[li], r));
            mids[r.shooter] = team.mann_id;
        }
        count_team(std::move(scores), !discipline.tenths, team);
        for (size_t i = 0; i < teams[k].size(); ++i)
            m.members.push_back({team.mann_id, m.results[teams[k][i]].shooter, static_cast<int16_t>(i + 1), i >= 4});
        m.teams.push_back(std::move(team));
    }
    return mids;
}

using TeamLists = std::vector<std::pair<int32_t, std::map<int32_t, int32_t>>>;  // list, shooter -> Mann_id

// Team lists for the main disciplines and every large ring discipline (the first also with a
// preliminary round).
TeamLists make_team_lists(Model& m, Rng& rng, const std::vector<std::vector<int32_t>>& shot) {
    TeamLists team_lists;
    for (int d = 0; d < static_cast<int>(m.disciplines.size()); ++d) {
        const auto& discipline = *m.disciplines[d];
        if (sort_by_teiler(discipline.sort) || (d >= 2 && shot[d].size() < 150)) continue;
        std::vector<int32_t> team_club;
        const auto teams = form_teams(m, rng, shot[d], team_club);
        if (teams.size() < 2) continue;
        for (const ListKind kind : {ListKind::Team, ListKind::TeamRound}) {
            if (kind == ListKind::TeamRound && d != 0) continue;
            std::vector<int32_t> all;
            for (const auto& t : teams) all.insert(all.end(), t.begin(), t.end());
            const std::string title = std::string(discipline.name) + (kind == ListKind::Team ? " - Mannschaft" : " - Mannschaft Vorrunde");
            const int32_t li = add_list(m, d, title, kind, -1, all);
            const size_t first_team = m.teams.size();
            std::map<int32_t, int32_t> mids = add_teams(m, d, kind, li, teams, team_club);
            std::vector<Team*> ranked;
            for (size_t k = first_team; k < m.teams.size(); ++k) ranked.push_back(&m.teams[k]);
            rank_teams(ranked);
            team_lists.emplace_back(li, std::move(mids));
        }
    }
    return team_lists;
}

// The options of each list (Erglistopt).
void add_list_options(Model& m) {
    for (const auto& l : m.lists) {
        const auto& discipline = *m.disciplines[l.disc];
        auto add = [&](std::string option, std::optional<std::string> st, std::optional<int32_t> in,
                       std::optional<double> fl) {
            m.list_options.push_back({static_cast<int32_t>(m.list_options.size()) + 1, l.id, std::move(option),
                                      std::move(st), in, fl});
        };
        const int shots = l.kind == ListKind::TeamRound || sort_by_teiler(discipline.sort)
                              ? discipline.shots_per_target
                              : discipline.shots_per_target * discipline.targets;
        if (l.kind == ListKind::Team) add("MANNMODE", std::nullopt, kCounting, std::nullopt);
        if (!l.team) add("KLASSE", l.klasse < 0 ? std::string("alle") : class_names()[l.klasse], std::nullopt, std::nullopt);
        add("SCHUSS", std::nullopt, shots, std::nullopt);
        if (sort_by_teiler(discipline.sort))
            add("TEILERFAKTOR", std::nullopt, std::nullopt, discipline.face == Face::Pistol ? 0.3333 : 1.0);
        if (l.kind == ListKind::Single && l.disc < 2) add("STARTGELD", "EUR", std::nullopt, l.disc == 0 ? 8.5 : 7.0);
    }
}

}  // namespace

void make_lists(Model& m) {
    Rng rng(m.options.seed, 3);
    const std::vector<std::vector<int32_t>> shot = shot_results(m);
    make_single_lists(m, shot);
    const TeamLists team_lists = make_team_lists(m, rng, shot);

    // Ranks, in list order.
    const std::map<int32_t, int32_t> no_team;
    std::vector<const std::map<int32_t, int32_t>*> mids_of(m.lists.size(), &no_team);
    for (const auto& [li, mids] : team_lists) mids_of[li] = &mids;
    for (int32_t li = 0; li < static_cast<int32_t>(m.lists.size()); ++li) rank_list(m, li, *mids_of[li]);

    add_list_options(m);
}

}  // namespace ringolan::demo
