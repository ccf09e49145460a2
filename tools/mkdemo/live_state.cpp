#include "tools/mkdemo/live_state.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>

#include "common/cp1252.h"
#include "db/jet/layout.h"
#include "db/jet/table_rows.h"
#include "tools/mkdemo/live_invariant.h"

namespace ringolan::demo {
namespace {

using jet::ColumnType;
using jet::DefColumn;
using jet::RowView;
using jet::TableDef;
using jet::Unsupported;

const DefColumn& need(const TableDef& def, int table, const std::string& name) {
    const DefColumn* c = def.column(text::utf8_to_utf16(name));
    if (!c) throw Unsupported(std::string("table ") + table_name(table) + " has no column " + name);
    return *c;
}

// Every column where the demo writer puts it, so that rows encoded like the demo's fit.
TableDef demo_table(jet::FilePages& pages, int table) {
    TableDef def = jet::read_table_def(jet::find_table(pages, text::utf8_to_utf16(table_name(table))), pages.source());
    if (def.real_indexes > 0) throw Unsupported(std::string("table ") + table_name(table) + " has indexes (not kept up to date here)");
    const jet::TableLayout layout = jet::make_layout(table_columns(table));
    bool same = def.columns.size() == layout.columns.size();
    for (size_t i = 0; same && i < layout.columns.size(); ++i) {
        const jet::ColumnLayout& c = layout.columns[i];
        const DefColumn& d = need(def, table, c.column.name);
        same = d.number == c.number && d.type == uint8_t(c.column.type) && d.variable() == c.variable &&
               (c.variable ? d.var_index == c.var_index : d.fixed_offset == c.fixed_offset);
    }
    if (!same) throw Unsupported(std::string("table ") + table_name(table) + " is not laid out as the demo writes it");
    return def;
}

int32_t whole(const RowView& v, const DefColumn& c) { return int32_t(v.integer(c).value_or(0)); }
std::string utf8(const RowView& v, const DefColumn& c) {
    const auto t = v.text(c);
    return t ? text::utf16_to_utf8(*t) : std::string();
}
int64_t result_key(int32_t startnr, int disc) { return int64_t(startnr) << 8 | disc; }

class Loader {
public:
    Loader(jet::FilePages& pages, LiveState& s) : pages_(pages), s_(s) {}

    void disciplines() {
        const TableDef def = demo_table(pages_, Wettk);
        const DefColumn &id = need(def, Wettk, "DP_ID"), &name = need(def, Wettk, "Bezeichnung");
        const auto& catalog = discipline_catalog();
        jet::scan_rows(def, pages_, [&](uint32_t, uint32_t, const RowView& v) {
            const int32_t dp = whole(v, id);
            const std::string n = utf8(v, name);
            if (dp < 1 || dp > int32_t(catalog.size()) || without_round_marker(n) != catalog[dp - 1].name)
                throw Unsupported("discipline " + std::to_string(dp) + " \"" + n + "\" is not one of the demo's");
            if (size_t(dp) > s_.disciplines.size()) s_.disciplines.resize(dp, nullptr);
            s_.disciplines[dp - 1] = &catalog[dp - 1];
            if (size_t(dp) > names_.size()) names_.resize(dp);
            names_[dp - 1] = n;
            return false;
        });
        if (std::count(s_.disciplines.begin(), s_.disciplines.end(), nullptr))
            throw Unsupported("the disciplines are not numbered from 1 without gaps");
    }

    void results() {
        const TableDef def = demo_table(pages_, Ergebnis);
        const DefColumn &erg = need(def, Ergebnis, "Erg_id"), &nr = need(def, Ergebnis, "Startnr"),
                        &dp = need(def, Ergebnis, "DP_Id");
        jet::scan_rows(def, pages_, [&](uint32_t, uint32_t, const RowView& v) {
            const int32_t d = whole(v, dp);
            if (d < 1 || d > int32_t(s_.disciplines.size())) throw Unsupported("a result names an unknown discipline");
            LiveResult r{};
            r.agg.erg_id = whole(v, erg);
            r.agg.disc = int16_t(d - 1);
            r.startnr = whole(v, nr);
            result_of_erg_[r.agg.erg_id] = int32_t(s_.results.size());
            result_of_shooter_[result_key(r.startnr, d - 1)] = int32_t(s_.results.size());
            s_.results.push_back(std::move(r));
            return false;
        });
    }

    void cards(LiveTables& t) {
        t.scheiben = demo_table(pages_, Scheiben);
        const TableDef& def = t.scheiben;
        const DefColumn &id = need(def, Scheiben, "Sch_id"), &summe = need(def, Scheiben, "summe");
        const DefColumn *r[kMaxShots], *tt[kMaxShots], *w[kMaxShots];
        for (int i = 0; i < kMaxShots; ++i) {
            r[i] = &need(def, Scheiben, "R" + std::to_string(i + 1));
            tt[i] = &need(def, Scheiben, "t" + std::to_string(i + 1));
            w[i] = &need(def, Scheiben, "w" + std::to_string(i + 1));
        }
        jet::scan_rows(def, pages_, [&](uint32_t page, uint32_t row, const RowView& v) {
            LiveCard c{};
            c.at = {page, row};
            Target& tg = c.target;
            tg.id = whole(v, id);
            while (tg.shots < kMaxShots && whole(v, *tt[tg.shots]) > 0) ++tg.shots;
            tg.unused_null = tg.shots < kMaxShots && v.is_null(*tt[tg.shots]);
            for (int i = 0; i < tg.shots; ++i) {
                tg.score10[i] = int16_t(std::llround(v.real(*r[i]).value_or(0) * 10));
                tg.t[i] = whole(v, *tt[i]);
                tg.w[i] = int16_t(whole(v, *w[i]));
            }
            c.sum_stale = v.real(summe) != tg.sum10() / 10.0;
            card_of_id_[tg.id] = int32_t(s_.cards.size());
            s_.next_card_id = std::max(s_.next_card_id, tg.id + 1);
            s_.cards.push_back(c);
            return false;
        });
    }

    void assignments(LiveTables& t) {
        t.zuordnung = demo_table(pages_, Zuordnung);
        const TableDef& def = t.zuordnung;
        const DefColumn &erg = need(def, Zuordnung, "Erg_id"), &card = need(def, Zuordnung, "Scheiben_id"),
                        &pos = need(def, Zuordnung, "pos"), &stand = need(def, Zuordnung, "Stand"),
                        &zeit = need(def, Zuordnung, "Zeit");
        std::vector<std::vector<std::pair<int32_t, int32_t>>> by_pos(s_.results.size());
        jet::scan_rows(def, pages_, [&](uint32_t, uint32_t, const RowView& v) {
            const auto r = result_of_erg_.find(whole(v, erg));
            const auto c = card_of_id_.find(whole(v, card));
            if (r == result_of_erg_.end() || c == card_of_id_.end()) throw Unsupported("zuordnung names an unknown result or card");
            LiveResult& res = s_.results[r->second];
            by_pos[r->second].emplace_back(whole(v, pos), c->second);
            res.stand = whole(v, stand);
            res.last_time = std::max(res.last_time, v.real(zeit).value_or(0));
            return false;
        });
        for (size_t i = 0; i < s_.results.size(); ++i) {
            std::sort(by_pos[i].begin(), by_pos[i].end());
            LiveResult& r = s_.results[i];
            if (by_pos[i].size() > 255) throw Unsupported("a result has more than 255 cards");
            for (const auto& [p, c] : by_pos[i]) r.cards.push_back(c);
            r.agg.targets = uint8_t(r.cards.size());
            aggregate_cards(s_.disciplines[r.agg.disc]->face, card_targets(s_, r), r.agg);
        }
    }

    void lists();
    void ranks(LiveTables& t);
    void teams(LiveTables& t);

private:
    jet::FilePages& pages_;
    LiveState& s_;
    std::vector<std::string> names_;  // wettk.Bezeichnung by DP_ID - 1
    std::unordered_map<int32_t, int32_t> result_of_erg_, card_of_id_, list_of_id_;
    std::unordered_map<int64_t, int32_t> result_of_shooter_;
};

Sort parse_sort(const std::optional<std::u16string>& text) {
    if (!text) return Sort::Unnamed;
    for (Sort s : {Sort::RingBlattl, Sort::BlattlRing, Sort::Ring, Sort::RingSerie, Sort::Teiler})
        if (text::utf16_to_utf8(*text) == sort_text(s)) return s;
    throw Unsupported("unknown ranking rule \"" + text::utf16_to_utf8(*text) + "\"");
}

void Loader::lists() {
    const TableDef def = demo_table(pages_, WettbDef);
    const DefColumn &id = need(def, WettbDef, "ID"), &titel = need(def, WettbDef, "Titel"),
                    &sort = need(def, WettbDef, "Sortierung"), &team = need(def, WettbDef, "mannschaft"),
                    &selekt = need(def, WettbDef, "selekt");
    jet::scan_rows(def, pages_, [&](uint32_t, uint32_t, const RowView& v) {
        LiveList l{};
        l.list.id = whole(v, id);
        l.list.titel = utf8(v, titel);
        l.list.sort = parse_sort(v.text(sort));
        l.list.team = !v.is_null(team);  // a yes/no column is its null-mask bit
        l.list.selekt = v.integer(selekt);
        l.list.disc = int16_t(discipline_of_title(l.list.titel, names_));
        const int32_t sel = l.list.selekt.value_or(0);
        l.list.kind = l.list.team ? (sel == 1 ? ListKind::TeamRound : ListKind::Team)
                                  : (sel == 1 ? ListKind::Hidden : sel == 2 ? ListKind::Final : ListKind::Single);
        list_of_id_[l.list.id] = int32_t(s_.lists.size());
        s_.lists.push_back(std::move(l));
        return false;
    });
}

void Loader::ranks(LiveTables& t) {
    t.raenge = demo_table(pages_, Raenge);
    const TableDef& def = t.raenge;
    const DefColumn &list = need(def, Raenge, "ErglistID"), &nr = need(def, Raenge, "Startnr");
    t.rang = &need(def, Raenge, "Rang");
    t.haupt = &need(def, Raenge, "HauptErg");
    t.teilerg = &need(def, Raenge, "TeilErg");
    for (int i = 0; i < 7; ++i) t.e[i] = &need(def, Raenge, "E" + std::to_string(i + 1));
    jet::scan_rows(def, pages_, [&](uint32_t page, uint32_t row, const RowView& v) {
        const auto li = list_of_id_.find(whole(v, list));
        if (li == list_of_id_.end() || s_.lists[li->second].list.disc < 0) return false;  // left alone
        const auto ri = result_of_shooter_.find(result_key(whole(v, nr), s_.lists[li->second].list.disc));
        if (ri == result_of_shooter_.end()) throw Unsupported("a rank has no result in the list's discipline");
        LiveRank k{};
        k.at = {page, row};
        k.row.list = li->second;
        k.row.result = ri->second;
        k.row.rang = whole(v, *t.rang);
        k.row.haupt = v.real(*t.haupt).value_or(0);
        if (const auto text = v.text(*t.teilerg)) k.row.teilerg = text::utf16_to_utf8(*text);
        for (int i = 0; i < 7; ++i) k.row.e[i] = v.real(*t.e[i]);
        const int32_t index = int32_t(s_.ranks.size());
        s_.lists[li->second].order.push_back(index);
        s_.results[ri->second].ranks.push_back(index);
        s_.ranks.push_back(std::move(k));
        return false;
    });
    for (LiveList& l : s_.lists)
        std::sort(l.order.begin(), l.order.end(), [&](int32_t a, int32_t b) {
            const LiveResult &ra = s_.results[s_.ranks[a].row.result], &rb = s_.results[s_.ranks[b].row.result];
            return ranks_before(l.list, ra.agg, ra.startnr, rb.agg, rb.startnr);
        });
}

void Loader::teams(LiveTables& t) {
    t.mannschaft = demo_table(pages_, Mannschaft);
    const TableDef& def = t.mannschaft;
    const DefColumn &mann = need(def, Mannschaft, "Mann_id"), &list = need(def, Mannschaft, "Wettb_id");
    t.mrang = &need(def, Mannschaft, "MRang");
    t.mergebnis = &need(def, Mannschaft, "MErgebnis");
    t.mteilerg = &need(def, Mannschaft, "MTeilErg");
    std::unordered_map<int32_t, int32_t> team_of_id;
    jet::scan_rows(def, pages_, [&](uint32_t page, uint32_t row, const RowView& v) {
        const auto li = list_of_id_.find(whole(v, list));
        if (li == list_of_id_.end() || s_.lists[li->second].list.disc < 0) return false;
        LiveTeam team{};
        team.at = {page, row};
        team.team.mann_id = whole(v, mann);
        team.team.list = li->second;
        team.team.rang = whole(v, *t.mrang);
        team.team.result = v.real(*t.mergebnis).value_or(0);
        team.team.teilerg = utf8(v, *t.mteilerg);
        team_of_id[team.team.mann_id] = int32_t(s_.teams.size());
        s_.lists[li->second].teams.push_back(int32_t(s_.teams.size()));
        s_.teams.push_back(std::move(team));
        return false;
    });
    const TableDef members = demo_table(pages_, MannTeiln);
    const DefColumn &m_id = need(members, MannTeiln, "Mann_id"), &m_nr = need(members, MannTeiln, "Startnr");
    jet::scan_rows(members, pages_, [&](uint32_t, uint32_t, const RowView& v) {
        const auto ti = team_of_id.find(whole(v, m_id));
        if (ti == team_of_id.end()) return false;
        LiveTeam& team = s_.teams[ti->second];
        const auto ri = result_of_shooter_.find(result_key(whole(v, m_nr), s_.lists[team.team.list].list.disc));
        if (ri == result_of_shooter_.end()) throw Unsupported("a team member has no result in the team's discipline");
        team.members.push_back(ri->second);
        s_.results[ri->second].teams.push_back(ti->second);
        return false;
    });
}

}  // namespace

bool ranks_before(const ResultList& list, const Result& a, int32_t startnr_a, const Result& b, int32_t startnr_b) {
    const int c = compare_results(list.sort, ranked_as(list, a), ranked_as(list, b));
    return c != 0 ? c < 0 : startnr_a < startnr_b;
}

std::vector<const Target*> card_targets(const LiveState& s, const LiveResult& r) {
    std::vector<const Target*> out;
    out.reserve(r.cards.size());
    for (int32_t c : r.cards) out.push_back(&s.cards[c].target);
    return out;
}

LiveState load_state(jet::FilePages& pages, LiveTables& tables) {
    LiveState s;
    Loader load(pages, s);
    load.disciplines();
    load.results();
    load.cards(tables);
    load.assignments(tables);
    load.lists();
    load.ranks(tables);
    load.teams(tables);
    return s;
}

}  // namespace ringolan::demo
