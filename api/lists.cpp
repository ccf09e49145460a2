// /lists and /lists/{id}: the result lists erlsel.php offers and one list's ranks as erl.php
// (single lists) or merl.php (team lists) shows them, with the pages' statements.
#include <map>

#include "api/disciplines.h"
#include "api/json_values.h"
#include "api/resources.h"
#include "api/team_entries.h"

namespace ringolan::api {

namespace {

// erlsel.php: the team lists first, then the single lists, each by title; hidden (selekt = 1) left out.
constexpr std::string_view kTeamLists =
    "SELECT ID, Titel FROM wettb_def WHERE mannschaft=true  and (selekt is null or selekt<>1) ORDER BY Titel";
constexpr std::string_view kSingleLists =
    "SELECT ID, Titel FROM wettb_def WHERE mannschaft=false and (selekt is null or selekt<>1) ORDER BY Titel";

constexpr std::string_view kRankCounts = "SELECT ErglistID, Count(ErglistID) AS Anzahl FROM raenge GROUP BY ErglistID";
constexpr std::string_view kTeamCounts = "SELECT Wettb_id, Count(Wettb_id) AS Anzahl FROM mannschaft GROUP BY Wettb_id";

// erl.php
constexpr std::string_view kList = "SELECT  *  FROM wettb_def  WHERE ID = ?";
constexpr std::string_view kRanks =
    "SELECT raenge.*, wettb_def.Sortierung, wettb_def.Titel,  starter.Nachname, starter.Vorname, verein.Name, "
    "verein.vereinsnr FROM verein,starter,wettb_def,raenge WHERE raenge.ErglistID=?"
    " and wettb_def.ID = raenge.ErglistID and starter.Startnr = raenge.Startnr and verein.Vereinsnr = "
    "starter.Vereinsnr "
    "ORDER BY raenge.Rang ";

// Rows per list id, counted by a two-column statement; none when the table is missing.
std::map<int64_t, int64_t> counts(const db::Snapshot& snapshot, std::string_view table, std::string_view statement) {
    std::map<int64_t, int64_t> out;
    if (!has_table(snapshot, table)) return out;
    db::Query q;
    q.set_command(statement);
    q.open(snapshot);
    for (; !q.at_end(); q.next()) out[q.field(0).as_int()] = q.field("Anzahl").as_int();
    return out;
}

void append_lists(Json& lists, const db::Snapshot& snapshot, std::string_view statement, bool team,
                  const std::map<int64_t, int64_t>& entries, const std::vector<std::string>& disciplines) {
    db::Query q;
    q.set_command(statement);
    q.open(snapshot);
    for (; !q.at_end(); q.next()) {
        const int64_t id = q.field("ID").as_int();
        const std::string title = q.field("Titel").as_text();
        const auto count = entries.find(id);
        Json list = Json::object();
        list["id"] = id;
        list["title"] = utf8(title);
        list["team"] = team;
        list["discipline"] = utf8(discipline_of(title, disciplines));
        list["entries"] = count == entries.end() ? 0 : count->second;
        lists.push_back(std::move(list));
    }
}

// The ranks of a single list. erl.php shows the main result alone for the sort orders that
// rank by it, otherwise E1 first.
Json single_entries(const db::Snapshot& snapshot, int64_t id, bool main_result) {
    Json entries = Json::array();
    if (!has_table(snapshot, "raenge")) return entries;
    db::Query q;
    q.set_command(kRanks);
    q.open(snapshot, {id});
    for (; !q.at_end(); q.next()) {
        Json entry = Json::object();
        entry["rank"] = number_or_null(q.field("Rang"));
        entry["startnr"] = number_or_null(q.field("Startnr"));
        entry["name"] = text_or_null(q.field("Nachname"));
        entry["first_name"] = text_or_null(q.field("Vorname"));
        entry["club"] = text_or_null(q.field("Name"));
        entry["club_nr"] = text_or_null(q.field("Vereinsnr"));
        entry["result"] = number_or_null(q.field(main_result ? "HauptErg" : "E1"));
        entry["unit"] = text_or_null(q.field("Einheit"));
        Json parts = Json::array();
        for (const char* part : {"E1", "E2", "E3", "E4", "E5"}) parts.push_back(number_or_null(q.field(part)));
        entry["parts"] = std::move(parts);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace

Answer lists_resource(const db::Snapshot& snapshot) {
    Json body = answer_object(snapshot);
    body["lists"] = Json::array();
    if (!has_table(snapshot, "wettb_def")) return json_answer(body);
    const std::vector<std::string> disciplines = discipline_names(snapshot);
    Json& lists = body["lists"];
    append_lists(lists, snapshot, kTeamLists, true, counts(snapshot, "mannschaft", kTeamCounts), disciplines);
    append_lists(lists, snapshot, kSingleLists, false, counts(snapshot, "raenge", kRankCounts), disciplines);
    return json_answer(body);
}

Answer list_resource(const db::Snapshot& snapshot, int64_t id) {
    const std::string unknown = "Keine Liste mit der Nummer " + std::to_string(id) + ".";
    if (!has_table(snapshot, "wettb_def")) return error_answer(404, unknown);
    db::Query q;
    q.set_command(kList);
    q.open(snapshot, {id});
    if (q.at_end()) return error_answer(404, unknown);
    const std::string title = q.field("Titel").as_text();
    const std::string sort = q.field("Sortierung").as_text();
    const bool team = yes(q.field("mannschaft"));

    Json body = answer_object(snapshot);
    body["id"] = id;
    body["title"] = utf8(title);
    body["team"] = team;
    body["discipline"] = utf8(discipline_of(title, discipline_names(snapshot)));
    body["sort"] = text_or_null(q.field("Sortierung"));
    body["entries"] = team ? team_entries(snapshot, id)
                           : single_entries(snapshot, id, sort == "ring/blattl" || sort == "blattl/ring");
    return json_answer(body);
}

}  // namespace ringolan::api
