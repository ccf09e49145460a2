// /shooters/{startnr}: a shooter with the ranks and targets est.php shows.
#include "api/json_values.h"
#include "api/resources.h"
#include "api/targets.h"

namespace ringolan::api {

namespace {

// Also a shooter whose club is missing from verein (est.php would show an empty head).
constexpr std::string_view kShooter =
    "SELECT starter.Startnr, starter.Nachname, starter.Vorname, starter.Vereinsnr, verein.Name FROM starter "
    "LEFT JOIN verein ON verein.Vereinsnr = starter.Vereinsnr WHERE starter.Startnr=?";

// est.php: the team ranks first (every list, hidden ones included), then the single ranks.
constexpr std::string_view kTeamRanks =
    "SELECT raenge.ErglistID, wettb_def.Id, wettb_def.Sortierung, wettb_def.Titel, raenge.Startnr, raenge.Rang, "
    "raenge.Einheit, raenge.E1, raenge.E2, raenge.E3, raenge.E4, raenge.E5, wettb_def.mannschaft FROM wettb_def, "
    "raenge, mannschaft, mann_teiln WHERE raenge.Startnr = ? AND wettb_def.ID = raenge.ErglistID AND "
    "mannschaft.mann_id = mann_teiln.mann_id AND raenge.startnr = mann_teiln.startnr AND raenge.ErglistID = "
    "mannschaft.wettb_id ORDER BY raenge.Rang";
constexpr std::string_view kSingleRanks =
    "SELECT raenge.ErglistID,wettb_def.Id, wettb_def.Sortierung, wettb_def.Titel, raenge.Startnr, "
    "raenge.Rang,raenge.Einheit, raenge.E1, raenge.E2, raenge.E3, raenge.E4, raenge.E5, wettb_def.mannschaft "
    "FROM wettb_def INNER JOIN raenge ON wettb_def.ID = raenge.ErglistID WHERE raenge.Startnr=?and "
    "mannschaft=false   AND wettb_def.mannschaft=False and (selekt is null or selekt<>1) ORDER BY "
    "wettb_def.mannschaft desc,raenge.Rang";

// est.php shows E1 as the result of every rank.
void append_ranks(Json& ranks, const db::Snapshot& snapshot, std::string_view statement, int64_t startnr) {
    db::Query q;
    q.set_command(statement);
    q.open(snapshot, {startnr});
    for (; !q.at_end(); q.next()) {
        Json rank = Json::object();
        rank["list"] = q.field("ErglistID").as_int();
        rank["title"] = text_or_null(q.field("Titel"));
        rank["team"] = yes(q.field("mannschaft"));
        rank["rank"] = number_or_null(q.field("Rang"));
        rank["result"] = number_or_null(q.field("E1"));
        rank["unit"] = text_or_null(q.field("Einheit"));
        ranks.push_back(std::move(rank));
    }
}

Json shooter_ranks(const db::Snapshot& snapshot, int64_t startnr) {
    Json ranks = Json::array();
    if (!has_table(snapshot, "raenge")) return ranks;
    if (has_table(snapshot, "mannschaft") && has_table(snapshot, "mann_teiln"))
        append_ranks(ranks, snapshot, kTeamRanks, startnr);
    append_ranks(ranks, snapshot, kSingleRanks, startnr);
    return ranks;
}

}  // namespace

Answer shooter_resource(const db::Snapshot& snapshot, int64_t startnr) {
    db::Query q;
    q.set_command(kShooter);
    q.open(snapshot, {startnr});
    if (q.at_end()) return error_answer(404, "Kein Sch\u00fctze mit der Startnummer " + std::to_string(startnr) + ".");
    Json body = answer_object(snapshot);
    body["startnr"] = startnr;
    body["name"] = text_or_null(q.field("Nachname"));
    body["first_name"] = text_or_null(q.field("Vorname"));
    body["club"] = text_or_null(q.field("Name"));
    body["club_nr"] = text_or_null(q.field("Vereinsnr"));
    body["ranks"] = shooter_ranks(snapshot, startnr);
    body["targets"] = shooter_targets(snapshot, startnr);
    return json_answer(body);
}

}  // namespace ringolan::api
