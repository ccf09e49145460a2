#include "api/team_entries.h"
#include "pages/statements.h"

#include <map>

namespace ringolan::api {

namespace {

constexpr std::string_view kTeamTables[] = {"mannschaft", "mann_teiln", "raenge"};

}  // namespace

Json team_entries(const db::Snapshot& snapshot, int64_t list) {
    Json teams = Json::array();
    for (std::string_view table : kTeamTables)
        if (!has_table(snapshot, table)) return teams;
    db::Query q;
    q.set_command(pages::kTeamMembersStatement);
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
