// The fixed statements that the classic pages and the JSON API both run, so that both give the
// same rows in the same order. Jet dialect; request values are bound to the "?" parameters.
#pragma once

#include <string_view>

namespace ringolan::pages {

// erlsel.php: the single lists offered, by title
inline constexpr std::string_view kSingleListsStatement =
    "SELECT ID, Titel FROM wettb_def WHERE mannschaft=false and (selekt is null or selekt<>1) ORDER BY Titel";

// erlsel.php: the team lists offered, by title
inline constexpr std::string_view kTeamListsStatement =
    "SELECT ID, Titel FROM wettb_def WHERE mannschaft=true  and (selekt is null or selekt<>1) ORDER BY Titel";

// erl.php: the list's definition
inline constexpr std::string_view kListStatement =
    "SELECT  *  FROM wettb_def  WHERE ID = ?";

// erl.php: the list's ranks with shooter and club, by rank
inline constexpr std::string_view kListRanksStatement =
    "SELECT raenge.*, wettb_def.Sortierung, wettb_def.Titel,  starter.Nachname, starter.Vorname, verein.Name, "
    "verein.vereinsnr FROM verein,starter,wettb_def,raenge WHERE raenge.ErglistID=?"
    " and wettb_def.ID = raenge.ErglistID and starter.Startnr = raenge.Startnr and verein.Vereinsnr = "
    "starter.Vereinsnr "
    "ORDER BY raenge.Rang ";

// merl.php: the teams of a list with their members, by team rank and rank
inline constexpr std::string_view kTeamMembersStatement =
    "SELECT mannschaft.MRang,mannschaft.Name, mann_teiln.Startnr, mannschaft.Mann_id, wettb_def.Titel, "
    "Nachname,Vorname,HauptErg,MErgebnis FROM wettb_def, mannschaft, mann_teiln,starter, raenge WHERE "
    "mannschaft.Mann_id = mann_teiln.Mann_id AND wettb_def.ID = mannschaft.Wettb_id AND wettb_def.Id = ?"
    " and starter.Startnr = mann_teiln.Startnr and starter.Startnr = raenge.Startnr and wettb_def.ID = "
    "raenge.ErglistID ORDER BY mannschaft.MRang,raenge.rang ";

// est.php: the shooter's targets with their discipline
inline constexpr std::string_view kShooterTargetsStatement =
    "SELECT scheiben.* , wettk.Bezeichnung, wettk.Teilermessung,scheiben.Sch_id,wettk.DP_ID FROM scheiben, "
    "wettk, ergebnis, zuordnung  WHERE Startnr = ? and wettk.DP_ID = ergebnis.DP_Id  and ergebnis.Erg_id = "
    "zuordnung.Erg_id  and scheiben.Sch_id = zuordnung.Scheiben_id  ORDER BY Bezeichnung,pos";

// est.php: the shooter's ranks in team lists
inline constexpr std::string_view kShooterTeamRanksStatement =
    "SELECT raenge.ErglistID, wettb_def.Id, wettb_def.Sortierung, wettb_def.Titel, raenge.Startnr, raenge.Rang, "
    "raenge.Einheit, raenge.E1, raenge.E2, raenge.E3, raenge.E4, raenge.E5, wettb_def.mannschaft FROM wettb_def, "
    "raenge, mannschaft, mann_teiln WHERE raenge.Startnr = ? AND wettb_def.ID = raenge.ErglistID AND "
    "mannschaft.mann_id = mann_teiln.mann_id AND raenge.startnr = mann_teiln.startnr AND raenge.ErglistID = "
    "mannschaft.wettb_id ORDER BY raenge.Rang";

// est.php: the shooter's ranks in the single lists offered
inline constexpr std::string_view kShooterSingleRanksStatement =
    "SELECT raenge.ErglistID,wettb_def.Id, wettb_def.Sortierung, wettb_def.Titel, raenge.Startnr, "
    "raenge.Rang,raenge.Einheit, raenge.E1, raenge.E2, raenge.E3, raenge.E4, raenge.E5, wettb_def.mannschaft "
    "FROM wettb_def INNER JOIN raenge ON wettb_def.ID = raenge.ErglistID WHERE raenge.Startnr=?and "
    "mannschaft=false   AND wettb_def.mannschaft=False and (selekt is null or selekt<>1) ORDER BY "
    "wettb_def.mannschaft desc,raenge.Rang";

// vstbl.php: the clubs with their number of shooters
inline constexpr std::string_view kClubCountsStatement =
    "SELECT verein.Name,verein.Vereinsnr, Count( verein.Vereinsnr ) AS Anzahl   FROM verein INNER JOIN "
    "starter ON verein.Vereinsnr = starter.Vereinsnr  GROUP BY verein.Vereinsnr, verein.Name ORDER BY "
    "Count( verein.Vereinsnr ) DESC;";

// vst.php, mmerl.php: one club
inline constexpr std::string_view kClubStatement =
    "SELECT * FROM verein where Vereinsnr=?";

// vst.php: the club's shooters by name
inline constexpr std::string_view kClubShootersStatement =
    "SELECT Startnr,Nachname,Vorname FROM starter where Vereinsnr=? Order by Nachname,Vorname";

}  // namespace ringolan::pages
