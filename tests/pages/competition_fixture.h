// A small competition file for page tests: the tables the target picture, results list and
// team pages read, with the demo's column types, filled row by row.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/jet/value.h"
#include "db/jet/writer.h"
#include "db/snapshot/snapshot.h"

namespace ringolan::test_pages {

class CompetitionFile {
public:
    using V = jet::Value;

    CompetitionFile();

    void club(const std::string& nr, V name);
    void shooter(int64_t startnr, V nachname, V vorname, const std::string& vereinsnr);
    void discipline(int64_t dp_id, V scheibentyp);
    // Shots 1.. as (t, w); the remaining slots are NULL.
    void target(int64_t sch_id, const std::vector<std::pair<V, V>>& shots);
    void list(int64_t id, V titel, V sortierung);
    // A list with its yes/no "mannschaft" and its "selekt" (may be Null).
    void list(int64_t id, V titel, bool mannschaft, V selekt);
    // An option row of a list (wettb_opt_def), e.g. ("MANNMODE", 3).
    void option(int64_t list_id, const std::string& option, V wert_in);
    void team(int64_t mann_id, int64_t list_id, const std::string& vereinsnr, V name, V mrang, V mergebnis);
    void member(int64_t mann_id, int64_t startnr);
    void rank(int64_t list_id, int64_t startnr, int64_t rang, V haupterg, V einheit, const std::array<V, 7>& e);

    // Writes the file (test folder, given name) and returns its snapshot.
    std::shared_ptr<const db::Snapshot> snapshot(const std::string& file_name);

private:
    jet::DatabaseWriter w_;
    jet::TableWriter *starter_, *verein_, *raenge_, *scheiben_, *wettk_, *wettb_def_, *wettb_opt_def_, *mannschaft_,
        *mann_teiln_;
    int64_t option_id_ = 0;
};

}  // namespace ringolan::test_pages
