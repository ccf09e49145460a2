// merl.php: the teams of one team competition with their members, and the team-row pieces
// that mmerl.php shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/query/query.h"
#include "pages/page_context.h"

namespace ringolan::pages {

// The body fragment (Windows-1252). Throws InputError when the competition number ("titel=")
// is no whole number; database errors propagate.
std::string merl_page(PageContext& ctx, std::string_view query);

// One member row of a team query (columns MRang, Name, Startnr, Nachname, Vorname, HauptErg,
// MErgebnis), numbers already in their page form.
struct TeamRow {
    int64_t rank = 0;          // team rank
    std::string team;          // team name
    std::string team_result;   // one decimal
    std::string startnr;
    std::string name;          // "surname, first name"
    std::string result;        // the member's main result, one decimal
};
TeamRow read_team_row(const db::Query& q);

// The number of members per team whose results count: "MANNMODE" of the competition, 0 when
// it has none.
int64_t counting_number(const db::Snapshot& snapshot, int64_t competition);

// Normal font for the first `counting` members of a team (member counts from 1), grey after.
std::string_view member_font(int64_t member, int64_t counting);

// The unmarked team header and the start of its member table; `anchor` puts the jump mark in
// front of the rank.
void append_team_header(std::string& out, const TeamRow& row, bool anchor);

// A member row. `first_cell` follows the first cell's width attribute directly, `highlight`
// goes into the other two cells.
void append_member_row(std::string& out, const TeamRow& row, std::string_view first_cell,
                       std::string_view highlight, std::string_view font);

}  // namespace ringolan::pages
