// The statements of the result pages and the upload in the Jet dialect, written as the page
// code writes them: "?" where a request value goes (inside the double quotes of a literal
// the quotes go as well: Vereinsnr="12" becomes Vereinsnr=?). Blanks, case and semicolons as
// the pages have them.
#pragma once

namespace ringolan::testing::jet {

// vstbl.php
inline constexpr const char* kClubCounts =
    "SELECT verein.Name,verein.Vereinsnr, Count( verein.Vereinsnr ) AS Anzahl   FROM verein INNER JOIN starter ON "
    "verein.Vereinsnr = starter.Vereinsnr  GROUP BY verein.Vereinsnr, verein.Name ORDER BY Count( verein.Vereinsnr ) DESC;";
// vst.php, mmerl.php
inline constexpr const char* kClub = "SELECT * FROM verein where Vereinsnr=?";
inline constexpr const char* kClubShooters = "SELECT Startnr,Nachname,Vorname FROM starter where Vereinsnr=? Order by Nachname,Vorname";
// ofsl.php (the value is the initial text followed by "%")
inline constexpr const char* kNamesByInitial =
    "SELECT starter.Startnr, starter.Nachname, starter.Vorname, verein.Name, verein.Vereinsnr FROM verein INNER JOIN starter ON "
    "verein.Vereinsnr = starter.Vereinsnr  WHERE (nachname like ?)  ORDER BY nachname, Vorname";
// est.php, sb.php
inline constexpr const char* kShooter =
    "SELECT starter.Startnr, starter.Nachname, starter.Vorname, verein.Name,verein.Vereinsnr FROM verein INNER JOIN starter ON "
    "verein.Vereinsnr = starter.Vereinsnr WHERE Startnr=?";
inline constexpr const char* kTargets =
    "SELECT scheiben.* , wettk.Bezeichnung, wettk.Teilermessung,scheiben.Sch_id,wettk.DP_ID FROM scheiben, wettk, ergebnis, "
    "zuordnung  WHERE Startnr = ? and wettk.DP_ID = ergebnis.DP_Id  and ergebnis.Erg_id = zuordnung.Erg_id  and "
    "scheiben.Sch_id = zuordnung.Scheiben_id  ORDER BY Bezeichnung,pos";
inline constexpr const char* kTeamRanks =
    "SELECT raenge.ErglistID, wettb_def.Id, wettb_def.Sortierung, wettb_def.Titel, raenge.Startnr, raenge.Rang, "
    "raenge.Einheit, raenge.E1, raenge.E2, raenge.E3, raenge.E4, raenge.E5, wettb_def.mannschaft FROM wettb_def, raenge, "
    "mannschaft, mann_teiln WHERE raenge.Startnr = ? AND wettb_def.ID = raenge.ErglistID AND mannschaft.mann_id = "
    "mann_teiln.mann_id AND raenge.startnr = mann_teiln.startnr AND raenge.ErglistID = mannschaft.wettb_id ORDER BY raenge.Rang";
inline constexpr const char* kSingleRanks =
    "SELECT raenge.ErglistID,wettb_def.Id, wettb_def.Sortierung, wettb_def.Titel, raenge.Startnr, raenge.Rang,raenge.Einheit, "
    "raenge.E1, raenge.E2, raenge.E3, raenge.E4, raenge.E5, wettb_def.mannschaft FROM wettb_def INNER JOIN raenge ON "
    "wettb_def.ID = raenge.ErglistID WHERE raenge.Startnr=?and mannschaft=false   AND wettb_def.mannschaft=False and "
    "(selekt is null or selekt<>1) ORDER BY wettb_def.mannschaft desc,raenge.Rang";
// sb.php
inline constexpr const char* kTargetType = "SELECT * from wettk where DP_ID=?";
inline constexpr const char* kHits = "SELECT * from scheiben WHERE Sch_id=?";
// erl.php
inline constexpr const char* kList = "SELECT  *  FROM wettb_def  WHERE ID = ?";
inline constexpr const char* kListRanks =
    "SELECT raenge.*, wettb_def.Sortierung, wettb_def.Titel,  starter.Nachname, starter.Vorname, verein.Name, "
    "verein.vereinsnr FROM verein,starter,wettb_def,raenge WHERE raenge.ErglistID=? and wettb_def.ID = raenge.ErglistID and "
    "starter.Startnr = raenge.Startnr and verein.Vereinsnr = starter.Vereinsnr ORDER BY raenge.Rang ";
// merl.php
inline constexpr const char* kTeamMode =
    "SELECT wettb_def.Titel, wettb_opt_def.Wert_in FROM wettb_def,wettb_opt_def WHERE wettb_def.id=wettb_opt_def.Erglist_id "
    "and wettb_def.id=? and option=\"MANNMODE\"";
inline constexpr const char* kTeams =
    "SELECT mannschaft.MRang,mannschaft.Name, mann_teiln.Startnr, mannschaft.Mann_id, wettb_def.Titel, "
    "Nachname,Vorname,HauptErg,MErgebnis FROM wettb_def, mannschaft, mann_teiln,starter, raenge WHERE mannschaft.Mann_id = "
    "mann_teiln.Mann_id AND wettb_def.ID = mannschaft.Wettb_id AND wettb_def.Id = ? and starter.Startnr = mann_teiln.Startnr "
    "and starter.Startnr = raenge.Startnr and wettb_def.ID = raenge.ErglistID ORDER BY mannschaft.MRang,raenge.rang ";
// mmerl.php
inline constexpr const char* kClubTeamLists =
    "SELECT distinct mannschaft.Wettb_id , wettb_def.titel FROM mannschaft, wettb_def WHERE id = Wettb_id AND vereinsnr = ? "
    "and Wettb_id=? and (wettb_def.selekt is null or wettb_def.selekt<>1)  order by Wettb_id";
inline constexpr const char* kClubTeamListsAll =
    "SELECT distinct mannschaft.Wettb_id , wettb_def.titel FROM mannschaft, wettb_def WHERE id = Wettb_id AND vereinsnr = ?  "
    " and (wettb_def.selekt is null or wettb_def.selekt<>1)  order by Wettb_id";
inline constexpr const char* kClubTeams =
    "SELECT mannschaft.wettb_id, mannschaft.MRang, mannschaft.Name, mann_teiln.Startnr, mannschaft.Mann_id, wettb_def.Titel, "
    "Nachname, Vorname, HauptErg, MErgebnis FROM wettb_def, mannschaft, mann_teiln, starter, raenge WHERE mannschaft.Mann_id = "
    "mann_teiln.Mann_id AND wettb_def.ID = mannschaft.Wettb_id AND starter.Startnr = mann_teiln.Startnr AND starter.Startnr = "
    "raenge.Startnr AND wettb_def.ID = raenge.ErglistID AND mannschaft.vereinsnr = ? and wettb_id=? ORDER BY mannschaft.MRang, "
    "raenge.rang";
// erlsel.php
inline constexpr const char* kTeamLists =
    "SELECT ID, Titel FROM wettb_def WHERE mannschaft=true  and (selekt is null or selekt<>1) ORDER BY Titel";
inline constexpr const char* kSingleLists =
    "SELECT ID, Titel FROM wettb_def WHERE mannschaft=false and (selekt is null or selekt<>1) ORDER BY Titel";
// upload
inline constexpr const char* kUploadDesign = "SELECT startnr, nachname, vorname, Vereinsnr from starter ORDER BY Nachname, Vorname";
inline constexpr const char* kUploadStarter =
    "SELECT startnr, nachname, vorname,waffe, Vereinsnr,Klasse,0 from starter ORDER BY Nachname, Vorname";
inline constexpr const char* kUploadStarterWithResults =
    "SELECT distinct Starter.startnr, nachname, vorname,waffe, Vereinsnr,Klasse,0 from starter,Ergebnis where Starter.Startnr = "
    "Ergebnis.Startnr ORDER BY Nachname, Vorname";
inline constexpr const char* kUploadRaenge =
    "select Startnr, Rang, ErglistID,HauptErg, Einheit, TeilErg, MID, E1,E2,E3,E4,E5,E6,E7 from raenge ";
inline constexpr const char* kUploadVerein = "SELECT  Verein.Vereinsnr, Verein.Name FROM Verein  order by Verein.vereinsnr";
inline constexpr const char* kUploadErgebnis = "select erg_id, startnr, dp_id from ergebnis order by erg_id";
inline constexpr const char* kUploadZuordnung = "select * from zuordnung order by erg_id";
inline constexpr const char* kUploadScheiben =
    "select sch_id, summe, r1,r2,r3,r4,r5,r6,r7,r8,r9,r10,t1,t2,t3,t4,t5,t6,t7,t8,t9,t10,w1,w2,w3,w4,w5,w6,w7,w8,w9,w10 from "
    "scheiben order by sch_id";
inline constexpr const char* kUploadWettk =
    "select dp_id, bezeichnung, scheibentyp,zehnerserien,Teilermessung  from wettk  order by dp_id";
inline constexpr const char* kUploadWettbDef =
    "select ID, Titel,Sortierung,zeitstempel, mannschaft from wettb_def where selekt<>1 or selekt is null";
inline constexpr const char* kUploadWettbOptDef =
    "select ID,ERGLIST_ID,  wettb_opt_def.Option AS _Option ,Wert_ST,Wert_In ,Wert_float from wettb_opt_def ";
inline constexpr const char* kUploadMannTeiln = "select * from mann_teiln ";
inline constexpr const char* kUploadMannschaft = "select * from mannschaft ";
inline constexpr const char* kUploadVeranstaltung =
    "SELECT ID, Option as _option, Wert_int, Wert_str, Wert_float, bemerkung FROM Veranstaltung";

}  // namespace ringolan::testing::jet
