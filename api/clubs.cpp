// /clubs and /clubs/{nr}: the clubs as vstbl.php counts them, one club's shooters as vst.php
// lists them, each with the best rank.
#include <map>

#include "api/json_values.h"
#include "api/resources.h"
#include "common/cp1252.h"

namespace ringolan::api {

namespace {

// vstbl.php
constexpr std::string_view kClubs =
    "SELECT verein.Name,verein.Vereinsnr, Count( verein.Vereinsnr ) AS Anzahl   FROM verein INNER JOIN "
    "starter ON verein.Vereinsnr = starter.Vereinsnr  GROUP BY verein.Vereinsnr, verein.Name ORDER BY "
    "Count( verein.Vereinsnr ) DESC;";

// vst.php
constexpr std::string_view kClub = "SELECT * FROM verein where Vereinsnr=?";
constexpr std::string_view kShooters =
    "SELECT Startnr,Nachname,Vorname FROM starter where Vereinsnr=? Order by Nachname,Vorname";

// The ranks of the club's shooters in the lists est.php shows as single ranks, the best
// (lowest rank, then list title) first per shooter.
constexpr std::string_view kRanks =
    "SELECT raenge.Startnr, raenge.ErglistID, raenge.Rang, raenge.Einheit, raenge.E1, wettb_def.Titel FROM "
    "starter, raenge, wettb_def WHERE starter.Vereinsnr=? and raenge.Startnr = starter.Startnr and "
    "wettb_def.ID = raenge.ErglistID and wettb_def.mannschaft=false and (wettb_def.selekt is null or "
    "wettb_def.selekt<>1) and raenge.Rang > 0 ORDER BY raenge.Startnr, raenge.Rang, wettb_def.Titel";

// The best rank per start number.
std::map<int64_t, Json> best_ranks(const db::Snapshot& snapshot, const std::string& club_nr) {
    std::map<int64_t, Json> best;
    if (!has_table(snapshot, "raenge")) return best;
    db::Query q;
    q.set_command(kRanks);
    q.open(snapshot, {club_nr});
    for (; !q.at_end(); q.next()) {
        const int64_t startnr = q.field("Startnr").as_int();
        if (best.contains(startnr)) continue;
        Json rank = Json::object();
        rank["list"] = q.field("ErglistID").as_int();
        rank["title"] = text_or_null(q.field("Titel"));
        rank["rank"] = number_or_null(q.field("Rang"));
        rank["result"] = number_or_null(q.field("E1"));
        rank["unit"] = text_or_null(q.field("Einheit"));
        best.emplace(startnr, std::move(rank));
    }
    return best;
}

}  // namespace

Answer clubs_resource(const db::Snapshot& snapshot) {
    db::Query q;
    q.set_command(kClubs);
    q.open(snapshot);
    Json clubs = Json::array();
    for (; !q.at_end(); q.next()) {
        Json club = Json::object();
        club["nr"] = text_or_null(q.field("Vereinsnr"));
        club["name"] = text_or_null(q.field("Name"));
        club["shooters"] = q.field("Anzahl").as_int();
        clubs.push_back(std::move(club));
    }
    Json body = answer_object(snapshot);
    body["clubs"] = std::move(clubs);
    return json_answer(body);
}

Answer club_resource(const db::Snapshot& snapshot, std::string_view nr) {
    const std::string club_nr = text::utf8_to_cp1252(nr);
    db::Query q;
    q.set_command(kClub);
    q.open(snapshot, {club_nr});
    if (q.at_end()) return error_answer(404, "Kein Verein mit dieser Nummer.");
    Json body = answer_object(snapshot);
    body["nr"] = text_or_null(q.field("Vereinsnr"));
    body["name"] = text_or_null(q.field("Name"));

    const std::map<int64_t, Json> best = best_ranks(snapshot, club_nr);
    Json shooters = Json::array();
    q.close();
    q.set_command(kShooters);
    q.open(snapshot, {club_nr});
    for (; !q.at_end(); q.next()) {
        const int64_t startnr = q.field("Startnr").as_int();
        const auto rank = best.find(startnr);
        Json shooter = Json::object();
        shooter["startnr"] = startnr;
        shooter["name"] = text_or_null(q.field("Nachname"));
        shooter["first_name"] = text_or_null(q.field("Vorname"));
        shooter["best"] = rank == best.end() ? Json(nullptr) : rank->second;
        shooters.push_back(std::move(shooter));
    }
    body["shooters"] = std::move(shooters);
    return json_answer(body);
}

}  // namespace ringolan::api
