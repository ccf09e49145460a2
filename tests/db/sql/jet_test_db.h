// An in-memory SQLite database laid out like a snapshot (declared types BOOLEAN, BYTE,
// SMALLINT, LONG, CURRENCY, SINGLE, DOUBLE, DATETIME, TEXT/MEMO COLLATE JET) with a small
// competition, for the SQL and query tests.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "common/sqlite.h"
#include "db/sql/jet_functions.h"

namespace ringolan::testing {

using DbPtr = sqlite::DbHandle;

inline void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string m = err ? err : "?";
        sqlite3_free(err);
        throw std::runtime_error(m + " in: " + sql);
    }
}

inline DbPtr open_jet_db() {
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    DbPtr p(db);
    db::register_jet_functions(db);
    return p;
}

// The schema of the competition file; every text column collates with JET.
inline void create_schema(sqlite3* db) {
    std::string scheiben = "CREATE TABLE scheiben (Sch_id LONG, summe DOUBLE";
    for (int i = 1; i <= 15; ++i) scheiben += ", R" + std::to_string(i) + " DOUBLE";
    for (int i = 1; i <= 15; ++i) scheiben += ", t" + std::to_string(i) + " LONG";
    for (int i = 1; i <= 15; ++i) scheiben += ", w" + std::to_string(i) + " SMALLINT";
    scheiben += ");";
    exec(db, R"(
CREATE TABLE starter (Startnr LONG, Nachname TEXT COLLATE JET, Vorname TEXT COLLATE JET,
  Vereinsnr TEXT COLLATE JET, waffe TEXT COLLATE JET, Klasse TEXT COLLATE JET);
CREATE TABLE verein (Vereinsnr TEXT COLLATE JET, Name TEXT COLLATE JET);
CREATE TABLE raenge (ErglistID LONG, Startnr LONG, Rang LONG, HauptErg DOUBLE, Einheit TEXT COLLATE JET,
  TeilErg TEXT COLLATE JET, MID LONG, E1 DOUBLE, E2 DOUBLE, E3 DOUBLE, E4 DOUBLE, E5 DOUBLE, E6 DOUBLE, E7 DOUBLE);
CREATE TABLE ergebnis (Erg_id LONG, Startnr LONG, DP_Id LONG);
CREATE TABLE zuordnung (Erg_id LONG, Scheiben_id LONG, pos SMALLINT, Stand SMALLINT, Zeit DATETIME);
CREATE TABLE wettk (DP_ID LONG, Bezeichnung TEXT COLLATE JET, Scheibentyp TEXT COLLATE JET, zehnerserien BYTE,
  Teilermessung TEXT COLLATE JET);
CREATE TABLE wettb_def (ID LONG, Titel TEXT COLLATE JET, Sortierung TEXT COLLATE JET, zeitstempel DATETIME,
  mannschaft BOOLEAN, selekt LONG);
CREATE TABLE wettb_opt_def (ID LONG, Erglist_id LONG, Option TEXT COLLATE JET, Wert_ST TEXT COLLATE JET,
  Wert_In LONG, Wert_float DOUBLE);
CREATE TABLE mannschaft (Mann_id LONG, Wettb_id LONG, vereinsnr TEXT COLLATE JET, Name TEXT COLLATE JET,
  MRang LONG, MErgebnis DOUBLE, Klasse TEXT COLLATE JET, MTeilErg TEXT COLLATE JET, Preis CURRENCY);
CREATE TABLE mann_teiln (Mann_id LONG, Startnr LONG, Reihenfolge SMALLINT, Ersatz BOOLEAN);
CREATE TABLE Veranstaltung (ID LONG, Option TEXT COLLATE JET, Wert_int LONG, Wert_str TEXT COLLATE JET,
  Wert_float DOUBLE, bemerkung MEMO TEXT COLLATE JET);
)" + scheiben);
}

// A small competition (UTF-8 in the database):
//  clubs 1, 2, 12 and 3 (3 without shooters); shooter 109 belongs to the missing club 99;
//  result lists 1 (single), 2 (team, MANNMODE 2), 3 (hidden: selekt 1), 4 ("älteste Klasse", selekt 0).
inline void fill_competition(sqlite3* db) {
    exec(db, R"(
INSERT INTO verein VALUES ('1','SV Adler'), ('2','SG Öhringen'), ('12','Schützenverein Weiß'), ('3','Leerer Verein');
INSERT INTO starter VALUES
  (101,'Müller','Hans','1','LG','Herren'), (102,'muller','anna','1','LG','Damen'),
  (103,'Ärger','Eva','2','LP','Damen'), (104,'Arger','Max','2','LG','Herren'),
  (105,'Zabel','Udo','12','LG','Senioren'), (106,'Weiß','Ida','12','LG','Damen'),
  (107,'Weiss','Olaf','12','LP','Herren'), (108,'abel','Tom','1','LG','Jugend'),
  (109,'Özdemir','Can','99','LG','Herren');
INSERT INTO wettb_def VALUES
  (1,'Luftgewehr Einzel','ring/blattl',45000.5,0,NULL), (2,'Mannschaft LG','ring',45000,-1,NULL),
  (3,'Versteckt','ring',45000,0,1), (4,'älteste Klasse','ring',45000,0,0);
INSERT INTO wettb_opt_def VALUES (1,2,'MANNMODE',NULL,2,NULL), (2,1,'anzeige','ja',NULL,1.5);
INSERT INTO raenge VALUES
  (1,103,1,390.1,'R',NULL,NULL,390.1,98.5,97.25,NULL,0,NULL,NULL),
  (1,101,2,380.5,'R',NULL,NULL,380.5,95.25,0.05,100.04,10000,NULL,NULL),
  (2,101,1,99.5,'R',NULL,NULL,99.5,NULL,NULL,NULL,NULL,NULL,NULL),
  (2,102,2,98.0,'R',NULL,NULL,98.0,NULL,NULL,NULL,NULL,NULL,NULL),
  (2,108,3,97.0,'R',NULL,NULL,97.0,NULL,NULL,NULL,NULL,NULL,NULL),
  (3,106,1,50.0,'R',NULL,NULL,50.0,NULL,NULL,NULL,NULL,NULL,NULL),
  (4,105,1,77.7,'T',NULL,NULL,77.7,NULL,NULL,NULL,NULL,NULL,NULL);
INSERT INTO mannschaft VALUES (10,2,'1','Adler I',1,197.5,'Herren',NULL,12.5);
INSERT INTO mann_teiln VALUES (10,101,1,0), (10,102,2,0), (10,108,3,-1);
INSERT INTO wettk VALUES (1,'Luftgewehr 40 Schuss','Luftgewehr',4,'Zehntel'), (2,'Königsscheibe','Luftgewehr',0,'Blattl'),
  (3,'Luftpistole 40 Schuss','Luftpistole',4,'Ring');
INSERT INTO ergebnis VALUES (1000,101,1), (1001,101,2), (1002,103,3);
INSERT INTO zuordnung VALUES (1000,5000,2,1,NULL), (1000,5001,1,1,NULL), (1001,5002,1,2,NULL), (1002,5003,1,3,NULL);
INSERT INTO scheiben (Sch_id, summe, R1, R2, t1, t2, w1, w2) VALUES
  (5000,98.5,10.2,9.8,250,830,120,3000), (5001,99.1,10.5,10.1,120,410,90,1800), (5002,50.0,10.9,NULL,12,NULL,0,NULL),
  (5003,88.0,9,8,NULL,NULL,NULL,NULL);
INSERT INTO Veranstaltung VALUES (1,'itdatum',NULL,'01.01.2024 10:00:00',NULL,NULL), (2,'Titel',NULL,'Kreismeisterschaft',2.5,'Bemerkung');
)");
}

}  // namespace ringolan::testing
