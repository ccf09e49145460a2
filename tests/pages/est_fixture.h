// Small competitions with every table the shooter page reads, written as .mdb files.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/jet/value.h"
#include "db/snapshot/snapshot.h"

namespace ringolan::test_pages {

// Texts are UTF-8 (the writer's form); the pages show them as Windows-1252.
struct Competition {
    struct Starter { int64_t startnr; std::string nachname, vorname, vereinsnr; };
    struct Verein { std::string nr, name; };
    struct Wettk { int64_t dp_id; std::string bezeichnung; jet::Value teilermessung; };
    struct Ergebnis { int64_t erg_id, startnr, dp_id; };
    // One scheiben row and its zuordnung row.
    struct Scheibe {
        int64_t sch_id, erg_id, pos;
        jet::Value summe;
        std::array<jet::Value, 15> t{};  // Null unless set
    };
    struct Liste { int64_t id; std::string titel; bool mannschaft; jet::Value selekt; };
    struct Rang {
        int64_t erglist, startnr;
        jet::Value rang;
        std::string einheit;
        std::array<jet::Value, 5> e;  // E1 to E5
    };
    struct Team { int64_t mann_id, wettb_id; std::string vereinsnr, name; };
    struct Member { int64_t mann_id, startnr; };

    std::vector<Starter> starters;
    std::vector<Verein> clubs;
    std::vector<Wettk> disciplines;
    std::vector<Ergebnis> results;
    std::vector<Scheibe> targets;
    std::vector<Liste> lists;
    std::vector<Rang> ranks;
    std::vector<Team> teams;
    std::vector<Member> members;
};

std::filesystem::path write_competition(const std::string& file_name, const Competition& c);
std::shared_ptr<const db::Snapshot> competition_snapshot(const std::string& file_name, const Competition& c);

}  // namespace ringolan::test_pages
