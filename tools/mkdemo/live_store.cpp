#include "tools/mkdemo/live_store.h"

#include <algorithm>

#include "common/cp1252.h"
#include "db/jet/layout.h"
#include "db/jet/page_edit.h"
#include "db/jet/row_codec.h"
#include "db/jet/row_patch.h"
#include "db/jet/table_rows.h"

namespace ringolan::demo {
namespace {

using jet::Unsupported;

class NoLongValues : public jet::LongValueSink {
public:
    uint32_t store(uint16_t, std::span<const uint8_t>) override { throw Unsupported("the row holds a long value"); }
};

// The row as the demo writer encodes it (the loader checked that the file has its layout).
std::vector<uint8_t> encode(int table, const jet::Row& row) {
    static const jet::TableLayout scheiben = jet::make_layout(table_columns(Scheiben));
    static const jet::TableLayout zuordnung = jet::make_layout(table_columns(Zuordnung));
    const jet::TableLayout& layout = table == Scheiben ? scheiben : zuordnung;
    NoLongValues sink;
    return jet::finish_row(layout, jet::prepare_row(layout, row), sink);
}

std::vector<uint8_t> row_bytes(const jet::Page& page, RowAt at) {
    const jet::RowSpan s = jet::row_span(page, at.row);
    return {page.begin() + s.start, page.begin() + s.end};
}

void replace(jet::FilePages& pages, RowAt at, std::span<const uint8_t> bytes, PageOrder& order, Stage stage) {
    if (!jet::replace_row(pages.change(at.page), at.row, bytes)) throw Unsupported("a changed row no longer fits its page");
    order.touch(at.page, stage);
}

// Appends a row and notes the pages that changed: the row's page at rows_stage, the
// definition (row count) two stages later, the usage maps between.
RowAt append(jet::FilePages& pages, const jet::TableDef& def, std::span<const uint8_t> bytes, PageOrder& order,
             Stage rows_stage) {
    const std::map<uint32_t, jet::Page> before = pages.changed();
    uint32_t pointer = 0;
    try {
        pointer = jet::append_table_row(pages, def, bytes, jet::RowPlace::last_page);
    } catch (const Unsupported& e) {
        throw TableFull(e.what());
    }
    for (const auto& [n, page] : pages.changed()) {
        const auto it = before.find(n);
        if (it != before.end() && it->second == page) continue;
        const int step = n == jet::pointer_page(pointer) ? 0 : n == def.page ? 2 : 1;
        order.touch(n, Stage(int(rows_stage) + step));
    }
    return {jet::pointer_page(pointer), jet::pointer_row(pointer)};
}

std::optional<std::u16string> utf16(const std::optional<std::string>& s, const jet::DefColumn& c) {
    if (!s) return std::nullopt;
    std::u16string u = text::utf8_to_utf16(*s);
    if (u.size() * 2 > c.length) throw Unsupported("a part result is longer than its column");
    return u;
}

void store_rank(jet::FilePages& pages, const LiveTables& t, const LiveRank& stored, const RankRow& row,
                PageOrder& order, Stage stage) {
    std::vector<uint8_t> b = row_bytes(pages.change(stored.at.page), stored.at);
    jet::put_whole(b, *t.rang, row.rang);
    jet::put_double(b, *t.haupt, row.haupt);
    for (int i = 0; i < 7; ++i) jet::put_double(b, *t.e[i], row.e[i]);
    if (row.teilerg != stored.row.teilerg) b = jet::with_text(t.raenge, b, *t.teilerg, utf16(row.teilerg, *t.teilerg));
    replace(pages, stored.at, b, order, stage);
}

void store_team(jet::FilePages& pages, const LiveTables& t, const LiveTeam& stored, const Team& team, PageOrder& order) {
    std::vector<uint8_t> b = row_bytes(pages.change(stored.at.page), stored.at);
    jet::put_whole(b, *t.mrang, team.rang);
    jet::put_double(b, *t.mergebnis, team.result);
    if (team.teilerg != stored.team.teilerg)
        b = jet::with_text(t.mannschaft, b, *t.mteilerg, utf16(std::optional<std::string>(team.teilerg), *t.mteilerg));
    replace(pages, stored.at, b, order, Stage::teams);
}

}  // namespace

void PageOrder::touch(uint32_t page, Stage stage) {
    auto [it, added] = stage_.emplace(page, stage);
    if (!added) it->second = std::max(it->second, stage);
}

std::vector<uint32_t> PageOrder::pages() const {
    std::vector<std::pair<Stage, uint32_t>> v;
    for (const auto& [page, stage] : stage_) v.emplace_back(stage, page);
    std::sort(v.begin(), v.end());
    std::vector<uint32_t> out;
    for (const auto& [stage, page] : v) out.push_back(page);
    return out;
}

RowAt store_change(jet::FilePages& pages, const LiveTables& t, const LiveState& s, const Change& c, PageOrder& order) {
    RowAt new_card_at;
    for (const CardEdit& e : c.cards)
        replace(pages, s.cards[e.card].at, encode(Scheiben, target_row(e.target)), order, Stage::card_rows);
    if (c.new_card) {
        new_card_at = append(pages, t.scheiben, encode(Scheiben, target_row(*c.new_card)), order, Stage::card_rows);
        const LiveResult& r = s.results[c.result];
        const jet::Row assignment = {int64_t(r.agg.erg_id), int64_t(c.new_card->id), int64_t(r.cards.size() + 1),
                                     int64_t(r.stand), jet::DateTime{r.last_time + kCardInterval}};
        append(pages, t.zuordnung, encode(Zuordnung, assignment), order, Stage::assign_rows);
    }
    for (const TeamEdit& e : c.teams) store_team(pages, t, s.teams[e.team], e.team_values, order);
    for (const RankEdit& e : c.ranks) {
        const LiveRank& stored = s.ranks[e.rank];
        store_rank(pages, t, stored, e.row, order, stored.row.result == c.result ? Stage::own_ranks : Stage::ranks);
    }
    return new_card_at;
}

}  // namespace ringolan::demo
