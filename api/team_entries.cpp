#include "api/team_entries.h"

#include <map>

namespace ringolan::api {

namespace {

// merl.php: one row per member with a rank in the list, by team rank and member rank.
constexpr std::string_view kTeams =
    "SELECT mannschaft.MRang,mannschaft.Name, mann_teiln.Startnr, mannschaft.Mann_id, wettb_def.Titel, "
    "Nachname,Vorname,HauptErg,MErgebnis FROM wettb_def, mannschaft, mann_teiln,starter, raenge WHERE "
    "mannschaft.Mann_id = mann_teiln.Mann_id AND wettb_def.ID = mannschaft.Wettb_id AND wettb_def.Id = ?"
    " and starter.Startnr = mann_teiln.Startnr and starter.Startnr = raenge.Startnr and wettb_def.ID = "
    "raenge.ErglistID ORDER BY mannschaft.MRang,raenge.rang ";

constexpr std::string_view kTeamTables[] = {"mannschaft", "mann_teiln", "raenge"};

}  // namespace

Json team_entries(const db::Snapshot& snapshot, int64_t list) {
    Json teams = Json::array();
    for (std::string_view table : kTeamTables)
        if (!has_table(snapshot, table)) return teams;
    db::Query q;
    q.set_command(kTeams);
    q.open(snapshot, {list});
    // merl.php starts a team where the rank changes; two teams of equal rank stay apart here,
    // each in the place of its first row.
    std::map<int64_t, size_t> team_index;
    for (; !q.at_end(); q.next()) {
        const int64_t mann_id = q.field("Mann_id").as_int();
        auto [at, added] = team_index.try_emplace(mann_id, teams.size());
        if (added) {
            Json team = Json::object();
            team["rank"] = number_or_null(q.field("MRang"));
            team["name"] = text_or_null(q.field("Name"));
            team["result"] = number_or_null(q.field("MErgebnis"));
            team["members"] = Json::array();
            teams.push_back(std::move(team));
        }
        Json member = Json::object();
        member["startnr"] = number_or_null(q.field("Startnr"));
        member["name"] = text_or_null(q.field("Nachname"));
        member["first_name"] = text_or_null(q.field("Vorname"));
        member["result"] = number_or_null(q.field("HauptErg"));
        teams[at->second]["members"].push_back(std::move(member));
    }
    return teams;
}

}  // namespace ringolan::api
