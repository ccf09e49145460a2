#include "tests/pages/competition_fixture.h"

#include "tests/pages/page_fixture.h"

namespace ringolan::test_pages {

using jet::ColumnType;

namespace {

std::vector<jet::Column> numbered(const std::string& prefix, int n, ColumnType type) {
    std::vector<jet::Column> out;
    for (int i = 1; i <= n; ++i) out.push_back({prefix + std::to_string(i), type});
    return out;
}

std::vector<jet::Column> joined(std::vector<jet::Column> a, const std::vector<jet::Column>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

CompetitionFile::CompetitionFile() {
    starter_ = &w_.add_table("starter", {{"Startnr", ColumnType::Long},
                                         {"Nachname", ColumnType::Text, 50},
                                         {"Vorname", ColumnType::Text, 50},
                                         {"Vereinsnr", ColumnType::Text, 10},
                                         {"waffe", ColumnType::Text, 20},
                                         {"Klasse", ColumnType::Text, 30}});
    verein_ = &w_.add_table("verein", {{"Vereinsnr", ColumnType::Text, 10}, {"Name", ColumnType::Text, 80}});
    raenge_ = &w_.add_table("raenge", joined({{"ErglistID", ColumnType::Long},
                                              {"Startnr", ColumnType::Long},
                                              {"Rang", ColumnType::Long},
                                              {"HauptErg", ColumnType::Double},
                                              {"Einheit", ColumnType::Text, 10},
                                              {"TeilErg", ColumnType::Text, 50},
                                              {"MID", ColumnType::Long}},
                                             numbered("E", 7, ColumnType::Double)));
    scheiben_ = &w_.add_table(
        "scheiben", joined(joined(joined({{"Sch_id", ColumnType::Long}, {"summe", ColumnType::Double}},
                                         numbered("R", 15, ColumnType::Double)),
                                  numbered("t", 15, ColumnType::Long)),
                           numbered("w", 15, ColumnType::Integer)));
    wettk_ = &w_.add_table("wettk", {{"DP_ID", ColumnType::Long},
                                     {"Bezeichnung", ColumnType::Text, 50},
                                     {"Scheibentyp", ColumnType::Text, 30},
                                     {"zehnerserien", ColumnType::Byte},
                                     {"Teilermessung", ColumnType::Text, 20}});
    wettb_def_ = &w_.add_table("wettb_def", {{"ID", ColumnType::Long},
                                             {"Titel", ColumnType::Text, 100},
                                             {"Sortierung", ColumnType::Text, 20},
                                             {"zeitstempel", ColumnType::DateTime},
                                             {"mannschaft", ColumnType::Boolean},
                                             {"selekt", ColumnType::Long}});
    wettb_opt_def_ = &w_.add_table("wettb_opt_def", {{"ID", ColumnType::Long},
                                                     {"Erglist_id", ColumnType::Long},
                                                     {"Option", ColumnType::Text, 30},
                                                     {"Wert_ST", ColumnType::Text, 100},
                                                     {"Wert_In", ColumnType::Long},
                                                     {"Wert_float", ColumnType::Double}});
    mannschaft_ = &w_.add_table("mannschaft", {{"Mann_id", ColumnType::Long},
                                               {"Wettb_id", ColumnType::Long},
                                               {"vereinsnr", ColumnType::Text, 10},
                                               {"Name", ColumnType::Text, 80},
                                               {"MRang", ColumnType::Long},
                                               {"MErgebnis", ColumnType::Double}});
    mann_teiln_ = &w_.add_table("mann_teiln", {{"Mann_id", ColumnType::Long}, {"Startnr", ColumnType::Long}});
}

void CompetitionFile::club(const std::string& nr, V name) { verein_->add_row({nr, std::move(name)}); }

void CompetitionFile::shooter(int64_t startnr, V nachname, V vorname, const std::string& vereinsnr) {
    starter_->add_row({startnr, std::move(nachname), std::move(vorname), vereinsnr, std::string("LG"),
                       std::string("Herren")});
}

void CompetitionFile::discipline(int64_t dp_id, V scheibentyp) {
    wettk_->add_row({dp_id, std::string("Disziplin ") + std::to_string(dp_id), std::move(scheibentyp), int64_t(1),
                     std::string("Ring")});
}

void CompetitionFile::target(int64_t sch_id, const std::vector<std::pair<V, V>>& shots) {
    jet::Row row(2 + 45, jet::Null{});
    row[0] = sch_id;
    row[1] = 0.0;
    for (size_t i = 0; i < shots.size() && i < 15; ++i) {
        row[2 + 15 + i] = shots[i].first;
        row[2 + 30 + i] = shots[i].second;
    }
    scheiben_->add_row(row);
}

void CompetitionFile::list(int64_t id, V titel, V sortierung) {
    wettb_def_->add_row({id, std::move(titel), std::move(sortierung), jet::DateTime{46000.5}, false, jet::Null{}});
}

void CompetitionFile::list(int64_t id, V titel, bool mannschaft, V selekt) {
    wettb_def_->add_row({id, std::move(titel), std::string("ring"), jet::DateTime{46000.5}, mannschaft, std::move(selekt)});
}

void CompetitionFile::option(int64_t list_id, const std::string& option, V wert_in) {
    wettb_opt_def_->add_row({++option_id_, list_id, option, jet::Null{}, std::move(wert_in), jet::Null{}});
}

void CompetitionFile::team(int64_t mann_id, int64_t list_id, const std::string& vereinsnr, V name, V mrang,
                           V mergebnis) {
    mannschaft_->add_row({mann_id, list_id, vereinsnr, std::move(name), std::move(mrang), std::move(mergebnis)});
}

void CompetitionFile::member(int64_t mann_id, int64_t startnr) { mann_teiln_->add_row({mann_id, startnr}); }

void CompetitionFile::rank(int64_t list_id, int64_t startnr, int64_t rang, V haupterg, V einheit,
                           const std::array<V, 7>& e) {
    jet::Row row = {list_id, startnr, rang, std::move(haupterg), std::move(einheit), std::string("x"), int64_t(0)};
    row.insert(row.end(), e.begin(), e.end());
    raenge_->add_row(row);
}

std::shared_ptr<const db::Snapshot> CompetitionFile::snapshot(const std::string& file_name) {
    const auto file = test_dir() / file_name;
    w_.save(file);
    return snapshot_of(file);
}

}  // namespace ringolan::test_pages
