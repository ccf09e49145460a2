// Compact in-memory model of the demo competition; the tables are produced from it row by row.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/mkdemo/demo.h"
#include "tools/mkdemo/rng.h"

namespace ringolan::demo {

constexpr int kMaxShots = 15;
constexpr int kMaxSeries = 5;  // E3..E7 of a ring list

// Target faces as the picture page draws them: air pistol, and the rifle face for all others.
enum class Face : uint8_t { Rifle, Pistol };
// Ring width of a face in Teiler units (t / 100 = hundredths of a millimetre):
// 2.5 mm for the rifle face, 8 mm for the pistol face.
constexpr int32_t ring_width(Face f) { return f == Face::Pistol ? 80000 : 25000; }
// Value of a hit at distance t in tenths of a ring: 109 (10.9) in the centre, 100 at one
// ring width, 10 (1.0) just inside ten ring widths, 0 (a miss) beyond.
constexpr int tenths_for_distance(int32_t t, Face f) {
    const int64_t steps = static_cast<int64_t>(t) * 10 / ring_width(f);
    return steps >= 100 ? 0 : static_cast<int>(109 - steps);
}

// Ranking rule of a list (`wettb_def.Sortierung`).
enum class Sort : uint8_t { RingBlattl, BlattlRing, Ring, RingSerie, Teiler, Unnamed };
const char* sort_text(Sort s);  // nullptr for Unnamed (stored as NULL)
bool sort_by_teiler(Sort s);

struct DisciplineSpec {
    const char* name;           // wettk.Bezeichnung
    const char* scheibentyp;    // nullptr = NULL
    const char* teilermessung;  // nullptr = NULL
    int zehnerserien;
    int shots_per_target;
    int targets;                // cards per result (Blattl: first card; more may be bought)
    bool tenths;                // decimal rings; otherwise whole rings
    Face face;
    double spread;              // group size factor against the shooter's skill (supported < 1)
    Sort sort;
    const char* einheit;
    const char* weapon;         // "LG", "LP", "KK", "AB", "LICHT" or "*" (open to everybody)
};
const std::vector<DisciplineSpec>& discipline_catalog();

struct Club {
    std::string nr;
    std::string name;
};

struct Shooter {
    int32_t startnr;
    std::string nachname;
    std::optional<std::string> vorname;  // NULL for guests
    int32_t club;                        // index into clubs
    int8_t klasse;                       // index into class_names(), -1 = NULL
    int8_t waffe;                        // index into weapon_names(), -1 = NULL
    bool female;
    float skill;                         // 0 beginner .. 1 top shooter
};
const std::vector<std::string>& class_names();
const std::vector<std::string>& weapon_names();

struct Target {
    int32_t id;
    uint8_t shots;       // shots present, in slots 0..shots-1
    bool unused_null;    // unused slots hold NULL rather than 0
    std::array<int16_t, kMaxShots> score10{};  // value in tenths of a ring (whole rings: multiple of 10)
    std::array<int32_t, kMaxShots> t{};
    std::array<int16_t, kMaxShots> w{};        // direction in 1/32768 turn, clockwise from the top
    int32_t sum10() const;
};

struct Result {
    int32_t erg_id;
    int32_t shooter;  // index into shooters
    int16_t disc;     // index into disciplines
    uint8_t stand;    // firing point
    uint8_t targets;
    int32_t first_target;  // index into targets
    int32_t start_second;  // seconds after midnight of the event day
    // Aggregates (update_aggregates)
    int32_t total10 = 0;
    int32_t best_t = 0;    // 0: no hit
    int32_t second_t = 0;
    int64_t teiler_sum = 0;
    int16_t inner = 0;     // hits of 10.4 and better
    int16_t hits = 0;
    std::array<int32_t, kMaxSeries> series10{};
};

enum class ListKind : uint8_t { Single, Hidden, Final, Team, TeamRound };

struct ResultList {
    int32_t id;
    std::string titel;
    Sort sort;
    const char* einheit;
    bool team;
    std::optional<int32_t> selekt;
    double zeitstempel;  // days since 1899-12-30
    int16_t disc;
    int8_t klasse;       // -1: every class
    ListKind kind;
    std::vector<int32_t> members;  // result indices ranked in this list
};

struct RankRow {
    int32_t list;  // index into lists
    int32_t result;
    int32_t rang;
    double haupt;
    std::optional<std::string> teilerg;
    int32_t mid = 0;  // 0 = NULL
    std::array<std::optional<double>, 7> e;
};

struct Team {
    int32_t mann_id;
    int32_t list;  // index into lists
    int32_t club;
    std::string name;
    int32_t rang = 0;
    double result = 0;
    std::string teilerg;
    std::optional<std::string> klasse;
};

struct TeamMember {
    int32_t mann_id;
    int32_t shooter;
    int16_t order;
    bool ersatz;
};

struct ListOption {
    int32_t id;
    int32_t list;  // wettb_def.ID
    std::string option;
    std::optional<std::string> st;
    std::optional<int32_t> in;
    std::optional<double> fl;
};

struct EventOption {
    int32_t id;
    std::string option;
    std::optional<int32_t> i;
    std::optional<std::string> s;
    std::optional<double> f;
    std::optional<std::string> bemerkung;
};

struct Model {
    DemoOptions options;
    double event_day = 0;  // days since 1899-12-30 of the competition day
    int year = 0, month = 0, day = 0;
    std::vector<Club> clubs;
    std::vector<Shooter> shooters;
    std::vector<const DisciplineSpec*> disciplines;  // DP_ID = index + 1
    std::vector<Target> targets;
    std::vector<Result> results;
    std::vector<ResultList> lists;
    std::vector<RankRow> ranks;
    std::vector<Team> teams;
    std::vector<TeamMember> members;
    std::vector<ListOption> list_options;
    std::vector<EventOption> event_options;
    std::string discipline_suffix;  // appended to every wettk.Bezeichnung
};

// Generation steps, in this order.
void make_people(Model& m);   // clubs, shooters
void make_shots(Model& m);    // disciplines, results, targets
void make_lists(Model& m);    // result lists, ranks, teams, list options
void make_event(Model& m);    // Veranstaltung options
void mark_round(Model& m);    // the round's marker in the shown texts
Model build_model(const DemoOptions& options);

// A hit at (x, y) in Teiler units from the centre (y up) stored in slot i of the card:
// Teiler, direction and ring value by the discipline's face and ring rule.
void store_hit(const DisciplineSpec& d, double x, double y, Target& tg, int i);
// The aggregates of a result from its cards, in card order (r.targets is left as it is).
void aggregate_cards(Face face, std::span<const Target* const> cards, Result& r);
void update_aggregates(const Model& m, Result& r);

// Negative when a ranks before b by the ranking rule, 0 when they share a rank.
int compare_results(Sort sort, const Result& a, const Result& b);
// The result as the list ranks it: a preliminary round counts the first card only.
Result ranked_as(const ResultList& list, Result r);
// HauptErg, TeilErg and E1..E7 of the result's row in the list.
void fill_parts(const DisciplineSpec& discipline, const ResultList& list, const Result& r, RankRow& row);
// What a member's result adds to a team in the list (tenths).
int32_t team_score(const ResultList& list, const Result& r);
// The team's result and MTeilErg from its members' scores: the best kCounting count.
void count_team(std::vector<int32_t> scores, bool whole_rings, Team& team);
// MRang of the teams of one list: by result, equal results share a rank.
void rank_teams(const std::vector<Team*>& teams);
// Days since 1899-12-30 of a calendar date.
double civil_days(int year, int month, int day);

// The tables in file order.
enum Table : int { Starter, Verein, Raenge, Ergebnis, Zuordnung, Scheiben, Wettk, WettbDef, WettbOptDef, Mannschaft, MannTeiln, Veranstaltung };
constexpr int kTableCount = 12;
const char* table_name(int table);
std::vector<jet::Column> table_columns(int table);
size_t table_row_count(const Model& m, int table);
// The scheiben row of a card: R, t and w of each shot; the places of shots not fired hold 0
// or, on some cards, NULL.
jet::Row target_row(const Target& tg);
void emit_rows(const Model& m, int table, const std::function<void(const jet::Row&)>& sink);

// Name material.
struct NameLists {
    std::vector<const char*> surnames, male, female, towns, club_patterns;
};
const NameLists& names();

}  // namespace ringolan::demo
