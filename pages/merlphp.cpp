#include "pages/merlphp.h"

#include "common/regional.h"
#include "db/snapshot/read_recorder.h"
#include "pages/params.h"
#include "pages/statements.h"

namespace ringolan::pages {

namespace {

constexpr std::string_view kHeading =
    "SELECT wettb_def.Titel, wettb_opt_def.Wert_in FROM wettb_def,wettb_opt_def WHERE "
    "wettb_def.id=wettb_opt_def.Erglist_id and wettb_def.id=? and option=\"MANNMODE\"";

constexpr std::string_view kYellow = "bgcolor=\"#FFFF99\"";

// The header of the team whose rank is marked: every cell yellow, no anchor.
void append_marked_header(std::string& out, const TeamRow& row) {
    out += "<tr><td bgcolor=\"#FFFF99\"><b>";
    out += std::to_string(row.rank);
    out += "</b></td><td bgcolor=\"#FFFF99\"><b>";
    out += row.team;
    out += "</b></td><td bgcolor=\"#FFFF99\"><b>";
    out += row.team_result;
    out += " </b></td></tr>\r<tr><td></td><td><table border=0>";
}

}  // namespace

TeamRow read_team_row(const db::Query& q) {
    TeamRow r;
    r.rank = q.field("Mrang").as_int();
    r.team = q.field("Name").as_text();
    r.startnr = q.field("startnr").as_text();
    r.name = q.field("Nachname").as_text() + ", " + q.field("Vorname").as_text();
    r.result = regional::one_decimal(q.field("HauptErg").as_real());
    r.team_result = regional::one_decimal(q.field("MErgebnis").as_real());
    return r;
}

int64_t counting_number(const db::Snapshot& snapshot, int64_t competition) {
    db::Query q;
    q.set_command(kHeading);
    q.open(snapshot, {competition});
    return q.field("Wert_in").as_int();
}

std::string_view member_font(int64_t member, int64_t counting) {
    return member > counting ? "<font size=\"2\" color=\"#c0c0c0\">" : "<font size=\"2\">";
}

void append_team_header(std::string& out, const TeamRow& row, bool anchor) {
    out += "<tr> <td><b>";
    if (anchor) out += "<a name=\"Marke\"></a>";
    out += std::to_string(row.rank);
    out += "</b></td><td><b>";
    out += row.team;
    out += "</b></td><td><b>";
    out += row.team_result;
    out += " </b></td></tr>\r<tr><td></td><td><table border=0>";
}

void append_member_row(std::string& out, const TeamRow& row, std::string_view first_cell,
                       std::string_view highlight, std::string_view font) {
    out += "<tr><td width=\"100\"";
    out += first_cell;
    out += ">  ";
    out += font;
    out += "<a href=\"est.php?ST=";
    out += row.startnr;
    out += "\">";
    out += row.startnr;
    out += "</a></font></td><td width=\"200\" ";
    out += highlight;
    out += ">";
    out += font;
    out += "<a href=\"est.php?ST=";
    out += row.startnr;
    out += "\">";
    out += row.name;
    out += "</a></font></td><td width=\"30\" ";
    out += highlight;
    out += " >";
    out += font;
    out += "<p align=\"right\">";
    out += row.result;
    out += "</p></font></td></tr>\r";
}

namespace {

// A team competition's title, counting number and member rows, read once per snapshot for all
// the addresses that show it (they differ only in the member they mark).
struct TeamList {
    std::string title;
    int64_t counting = 0;
    std::vector<TeamRow> rows;
    std::size_t bytes() const {
        std::size_t n = sizeof *this + title.size() + rows.size() * sizeof(TeamRow);
        for (const TeamRow& r : rows)
            n += r.team.size() + r.team_result.size() + r.startnr.size() + r.name.size() + r.result.size();
        return n;
    }
};

std::shared_ptr<const TeamList> team_list(const db::Snapshot& snapshot, int64_t competition) {
    return snapshot.memo<TeamList>("merl.php " + std::to_string(competition), [&] {
        TeamList list;
        db::Query a1;
        a1.set_command(kHeading);
        a1.open(snapshot, {competition});
        list.title = a1.field("titel").as_text();
        list.counting = a1.field("Wert_in").as_int();
        a1.close();
        a1.set_command(kTeamMembersStatement);
        {
            const db::ReadRecorder::KeyedScope ranks_of_list("raenge", "ErglistID", competition);
            const db::ReadRecorder::KeyedScope teams_of_list("mannschaft", "Wettb_id", competition);
            a1.open(snapshot, {competition});
        }
        list.rows.reserve(a1.row_count());
        for (; !a1.at_end(); a1.next()) list.rows.push_back(read_team_row(a1));
        return list;
    });
}

}  // namespace

std::string merl_page(PageContext& ctx, std::string_view query) {
    const db::Snapshot& snapshot = page_snapshot(ctx);
    const std::string_view highlight_nr = cut_before_amp(value_after_key(query, "startnr="));
    const int64_t competition =
        whole_number(cut_before_amp(value_after_key(query, "titel=")), "Wettbewerbsnummer");

    const auto list = team_list(snapshot, competition);
    std::string out = "<Font size=\"5\">";
    out += list->title;
    out += "</font>    (";
    out += std::to_string(list->counting);
    out += " Starter je Mannschaft)<br>";
    out += "<table border=0 width=500><tr><th width=100>Rang</th><th>Name </th><th>Erg</th><th> </th></tr>\r";
    out.reserve(out.size() + list->rows.size() * 400 + 16);

    // The marked team rank stays 0: only a rank-0 team after a negative rank gets the marked
    // header, only a rank -1 team the anchor.
    constexpr int64_t marked = 0;
    int64_t previous = 0, member = 0;
    for (const TeamRow& row : list->rows) {
        if (row.rank != previous) {
            if (previous > 0) out += "</table><td></td></tr>";
            previous = row.rank;
            member = 0;
            if (row.rank == marked)
                append_marked_header(out, row);
            else
                append_team_header(out, row, row.rank + 1 == marked);
        }
        const std::string_view h = highlight_nr == row.startnr ? kYellow : std::string_view{};
        ++member;
        append_member_row(out, row, h, h, member_font(member, list->counting));
    }
    out += "</table>";
    return out;
}

}  // namespace ringolan::pages
