// Table definitions of the demo database and the rows of each table, produced from the model.
#include <stdexcept>
#include <string>

#include "tools/mkdemo/demo_model.h"

namespace ringolan::demo {
namespace {

using jet::Column;
using jet::ColumnType;
using jet::Row;
using jet::Value;

Column lng(const char* n) { return {n, ColumnType::Long}; }
Column integer(const char* n) { return {n, ColumnType::Integer}; }
Column dbl(const char* n) { return {n, ColumnType::Double}; }
Column text(const char* n, int size) { return {n, ColumnType::Text, size}; }
Column numbered(const char* prefix, int i, ColumnType type) {
    std::string name(prefix);
    name.append(std::to_string(i));
    return {name, type};
}

Value v(int32_t x) { return static_cast<int64_t>(x); }
Value v(double x) { return x; }
Value v(const std::string& s) { return s; }
Value v(const char* s) { return s ? Value(std::string(s)) : Value(jet::Null{}); }
template <class T> Value v(const std::optional<T>& o) { return o ? v(*o) : Value(jet::Null{}); }
Value id_or_null(int32_t x) { return x ? v(x) : Value(jet::Null{}); }

int32_t startnr_of_result(const Model& m, int32_t ri) { return m.shooters[m.results[ri].shooter].startnr; }

}  // namespace

const char* table_name(int table) {
    static const char* const kNames[kTableCount] = {"starter",   "verein", "raenge",        "ergebnis",   "zuordnung",  "scheiben",
                                                   "wettk",     "wettb_def", "wettb_opt_def", "mannschaft", "mann_teiln", "Veranstaltung"};
    if (table < 0 || table >= kTableCount) throw std::out_of_range("no such demo table");
    return kNames[table];
}

std::vector<Column> table_columns(int table) {
    std::vector<Column> c;
    switch (table) {
        case Starter:
            return {lng("Startnr"), text("Nachname", 50), text("Vorname", 50), text("Vereinsnr", 10), text("waffe", 20),
                    text("Klasse", 30)};
        case Verein: return {text("Vereinsnr", 10), text("Name", 80)};
        case Raenge:
            c = {lng("ErglistID"), lng("Startnr"), lng("Rang"), dbl("HauptErg"), text("Einheit", 10), text("TeilErg", 50), lng("MID")};
            for (int i = 1; i <= 7; ++i) c.push_back(numbered("E", i, ColumnType::Double));
            return c;
        case Ergebnis: return {lng("Erg_id"), lng("Startnr"), lng("DP_Id")};
        case Zuordnung: return {lng("Erg_id"), lng("Scheiben_id"), integer("pos"), integer("Stand"), {"Zeit", ColumnType::DateTime}};
        case Scheiben:
            c = {lng("Sch_id"), dbl("summe")};
            for (int i = 1; i <= kMaxShots; ++i) c.push_back(numbered("R", i, ColumnType::Double));
            for (int i = 1; i <= kMaxShots; ++i) c.push_back(numbered("t", i, ColumnType::Long));
            for (int i = 1; i <= kMaxShots; ++i) c.push_back(numbered("w", i, ColumnType::Integer));
            return c;
        case Wettk:
            return {lng("DP_ID"), text("Bezeichnung", 50), text("Scheibentyp", 30), {"zehnerserien", ColumnType::Byte},
                    text("Teilermessung", 20)};
        case WettbDef:
            return {lng("ID"), text("Titel", 100), text("Sortierung", 20), {"zeitstempel", ColumnType::DateTime},
                    {"mannschaft", ColumnType::Boolean}, lng("selekt")};
        case WettbOptDef:
            return {lng("ID"), lng("Erglist_id"), text("Option", 30), text("Wert_ST", 100), lng("Wert_In"), dbl("Wert_float")};
        case Mannschaft:
            return {lng("Mann_id"), lng("Wettb_id"), text("vereinsnr", 10), text("Name", 80), lng("MRang"), dbl("MErgebnis"),
                    text("Klasse", 30), text("MTeilErg", 50)};
        case MannTeiln: return {lng("Mann_id"), lng("Startnr"), integer("Reihenfolge"), {"Ersatz", ColumnType::Boolean}};
        case Veranstaltung:
            return {lng("ID"), text("Option", 30), lng("Wert_int"), text("Wert_str", 255), dbl("Wert_float"),
                    {"bemerkung", ColumnType::Memo}};
    }
    throw std::out_of_range("no such demo table");
}

size_t table_row_count(const Model& m, int table) {
    switch (table) {
        case Starter: return m.shooters.size();
        case Verein: return m.clubs.size();
        case Raenge: return m.ranks.size();
        case Ergebnis: return m.results.size();
        case Zuordnung:
        case Scheiben: return m.targets.size();
        case Wettk: return m.disciplines.size();
        case WettbDef: return m.lists.size();
        case WettbOptDef: return m.list_options.size();
        case Mannschaft: return m.teams.size();
        case MannTeiln: return m.members.size();
        case Veranstaltung: return m.event_options.size();
    }
    throw std::out_of_range("no such demo table");
}

namespace {

Row rank_row(const Model& m, const RankRow& r) {
    const auto& list = m.lists[r.list];
    Row row = {v(list.id), v(startnr_of_result(m, r.result)), v(r.rang), v(r.haupt), v(list.einheit), v(r.teilerg), id_or_null(r.mid)};
    for (const auto& e : r.e) row.push_back(v(e));
    return row;
}

}  // namespace

Row target_row(const Target& tg) {
    Row row(2 + 3 * kMaxShots, Value(jet::Null{}));
    row[0] = v(tg.id);
    row[1] = v(tg.sum10() / 10.0);
    for (int i = 0; i < kMaxShots; ++i) {
        if (i < tg.shots) {
            row[2 + i] = v(tg.score10[i] / 10.0);
            row[2 + kMaxShots + i] = v(tg.t[i]);
            row[2 + 2 * kMaxShots + i] = v(static_cast<int32_t>(tg.w[i]));
        } else if (!tg.unused_null) {
            row[2 + i] = 0.0;
            row[2 + kMaxShots + i] = int64_t{0};
            row[2 + 2 * kMaxShots + i] = int64_t{0};
        }
    }
    return row;
}

void emit_rows(const Model& m, int table, const std::function<void(const Row&)>& sink) {
    switch (table) {
        case Starter:
            for (const auto& s : m.shooters) {
                const char* waffe = s.waffe < 0 ? nullptr : weapon_names()[s.waffe].c_str();
                const char* klasse = s.klasse < 0 ? nullptr : class_names()[s.klasse].c_str();
                sink({v(s.startnr), v(s.nachname), v(s.vorname), v(m.clubs[s.club].nr), v(waffe), v(klasse)});
            }
            return;
        case Verein:
            for (const auto& c : m.clubs) sink({v(c.nr), v(c.name)});
            return;
        case Raenge:
            for (const auto& r : m.ranks) sink(rank_row(m, r));
            return;
        case Ergebnis:
            for (const auto& r : m.results) sink({v(r.erg_id), v(m.shooters[r.shooter].startnr), v(static_cast<int32_t>(r.disc + 1))});
            return;
        case Zuordnung:
            for (const auto& r : m.results)
                for (int k = 0; k < r.targets; ++k) {
                    const int32_t second = r.start_second + k * 420;
                    sink({v(r.erg_id), v(m.targets[r.first_target + k].id), v(k + 1), v(static_cast<int32_t>(r.stand)),
                          jet::DateTime{m.event_day + second / 86400.0}});
                }
            return;
        case Scheiben:
            for (const auto& tg : m.targets) sink(target_row(tg));
            return;
        case Wettk:
            for (size_t d = 0; d < m.disciplines.size(); ++d) {
                const auto& s = *m.disciplines[d];
                sink({v(static_cast<int32_t>(d + 1)), v(s.name + m.discipline_suffix), v(s.scheibentyp), v(static_cast<int32_t>(s.zehnerserien)),
                      v(s.teilermessung)});
            }
            return;
        case WettbDef:
            for (const auto& l : m.lists)
                sink({v(l.id), v(l.titel), v(sort_text(l.sort)), jet::DateTime{l.zeitstempel}, l.team, v(l.selekt)});
            return;
        case WettbOptDef:
            for (const auto& o : m.list_options) sink({v(o.id), v(o.list), v(o.option), v(o.st), v(o.in), v(o.fl)});
            return;
        case Mannschaft:
            for (const auto& t : m.teams)
                sink({v(t.mann_id), v(m.lists[t.list].id), v(m.clubs[t.club].nr), v(t.name), v(t.rang), v(t.result), v(t.klasse),
                      v(t.teilerg)});
            return;
        case MannTeiln:
            for (const auto& mt : m.members)
                sink({v(mt.mann_id), v(m.shooters[mt.shooter].startnr), v(static_cast<int32_t>(mt.order)), mt.ersatz});
            return;
        case Veranstaltung:
            for (const auto& o : m.event_options) sink({v(o.id), v(o.option), v(o.i), v(o.s), v(o.f), v(o.bemerkung)});
            return;
    }
    throw std::out_of_range("no such demo table");
}

std::vector<DemoTable> make_demo(const DemoOptions& options) {
    const Model m = build_model(options);
    std::vector<DemoTable> tables;
    for (int t = 0; t < kTableCount; ++t) {
        DemoTable table{table_name(t), table_columns(t), {}};
        table.rows.reserve(table_row_count(m, t));
        emit_rows(m, t, [&](const Row& r) { table.rows.push_back(r); });
        tables.push_back(std::move(table));
    }
    return tables;
}

}  // namespace ringolan::demo
