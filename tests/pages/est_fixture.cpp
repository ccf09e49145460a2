#include "tests/pages/est_fixture.h"

#include "db/jet/writer.h"
#include "tests/pages/page_fixture.h"

namespace ringolan::test_pages {

namespace fs = std::filesystem;
using jet::ColumnType;
using jet::Value;

namespace {

std::vector<jet::Column> numbered(const std::string& prefix, ColumnType type) {
    std::vector<jet::Column> out;
    for (int i = 1; i <= 15; ++i) out.push_back({prefix + std::to_string(i), type});
    return out;
}

}  // namespace

fs::path write_competition(const std::string& file_name, const Competition& c) {
    jet::DatabaseWriter w;
    auto& starter = w.add_table("starter", {{"Startnr", ColumnType::Long}, {"Nachname", ColumnType::Text, 50},
                                            {"Vorname", ColumnType::Text, 50}, {"Vereinsnr", ColumnType::Text, 10}});
    for (const auto& s : c.starters) starter.add_row({s.startnr, s.nachname, s.vorname, s.vereinsnr});

    auto& verein = w.add_table("verein", {{"Vereinsnr", ColumnType::Text, 10}, {"Name", ColumnType::Text, 80}});
    for (const auto& v : c.clubs) verein.add_row({v.nr, v.name});

    auto& wettk = w.add_table("wettk", {{"DP_ID", ColumnType::Long}, {"Bezeichnung", ColumnType::Text, 50},
                                        {"Scheibentyp", ColumnType::Text, 30}, {"Teilermessung", ColumnType::Text, 20}});
    for (const auto& d : c.disciplines) wettk.add_row({d.dp_id, d.bezeichnung, std::string("Luftgewehr"), d.teilermessung});

    auto& ergebnis = w.add_table("ergebnis", {{"Erg_id", ColumnType::Long}, {"Startnr", ColumnType::Long},
                                              {"DP_Id", ColumnType::Long}});
    for (const auto& e : c.results) ergebnis.add_row({e.erg_id, e.startnr, e.dp_id});

    auto& zuordnung = w.add_table("zuordnung", {{"Erg_id", ColumnType::Long}, {"Scheiben_id", ColumnType::Long},
                                                {"pos", ColumnType::Integer}});
    for (const auto& t : c.targets) zuordnung.add_row({t.erg_id, t.sch_id, t.pos});

    std::vector<jet::Column> cols = {{"Sch_id", ColumnType::Long}, {"summe", ColumnType::Double}};
    for (const auto& group : {numbered("R", ColumnType::Double), numbered("t", ColumnType::Long),
                              numbered("w", ColumnType::Integer)})
        cols.insert(cols.end(), group.begin(), group.end());
    auto& scheiben = w.add_table("scheiben", cols);
    for (const auto& t : c.targets) {
        jet::Row row(cols.size(), Value(jet::Null{}));
        row[0] = t.sch_id;
        row[1] = t.summe;
        for (int i = 0; i < 15; ++i) row[2 + 15 + i] = t.t[i];
        scheiben.add_row(row);
    }

    auto& wettb_def = w.add_table("wettb_def", {{"ID", ColumnType::Long}, {"Titel", ColumnType::Text, 100},
                                                {"Sortierung", ColumnType::Text, 20},
                                                {"mannschaft", ColumnType::Boolean}, {"selekt", ColumnType::Long}});
    for (const auto& l : c.lists) wettb_def.add_row({l.id, l.titel, std::string("ring/teiler"), l.mannschaft, l.selekt});

    std::vector<jet::Column> rcols = {{"ErglistID", ColumnType::Long}, {"Startnr", ColumnType::Long},
                                      {"Rang", ColumnType::Long}, {"HauptErg", ColumnType::Double},
                                      {"Einheit", ColumnType::Text, 10}};
    for (int i = 1; i <= 7; ++i) rcols.push_back({"E" + std::to_string(i), ColumnType::Double});
    auto& raenge = w.add_table("raenge", rcols);
    for (const auto& r : c.ranks) {
        jet::Row row = {r.erglist, r.startnr, r.rang, r.e[0], r.einheit};
        for (const auto& e : r.e) row.push_back(e);
        row.resize(row.size() + 2);  // two NULL columns (a Value is Null by default)
        raenge.add_row(row);
    }

    auto& mannschaft = w.add_table("mannschaft", {{"Mann_id", ColumnType::Long}, {"Wettb_id", ColumnType::Long},
                                                  {"vereinsnr", ColumnType::Text, 10}, {"Name", ColumnType::Text, 80},
                                                  {"MRang", ColumnType::Long}, {"MErgebnis", ColumnType::Double}});
    for (const auto& t : c.teams) mannschaft.add_row({t.mann_id, t.wettb_id, t.vereinsnr, t.name, int64_t{1}, 1000.0});

    auto& mann_teiln = w.add_table("mann_teiln", {{"Mann_id", ColumnType::Long}, {"Startnr", ColumnType::Long}});
    for (const auto& m : c.members) mann_teiln.add_row({m.mann_id, m.startnr});

    const fs::path file = test_dir() / file_name;
    w.save(file);
    return file;
}

std::shared_ptr<const db::Snapshot> competition_snapshot(const std::string& file_name, const Competition& c) {
    return snapshot_of(write_competition(file_name, c));
}

}  // namespace ringolan::test_pages
