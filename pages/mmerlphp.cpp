#include "pages/mmerlphp.h"

#include <optional>

#include "db/query/query.h"
#include "db/snapshot/read_recorder.h"
#include "pages/merlphp.h"
#include "pages/params.h"
#include "pages/statements.h"

namespace ringolan::pages {

namespace {

constexpr std::string_view kOneCompetition =
    "SELECT distinct mannschaft.Wettb_id , wettb_def.titel FROM mannschaft, wettb_def WHERE id = Wettb_id AND "
    "vereinsnr = ? and Wettb_id=? and (wettb_def.selekt is null or wettb_def.selekt<>1)  order by Wettb_id";

constexpr std::string_view kAllCompetitions =
    "SELECT distinct mannschaft.Wettb_id , wettb_def.titel FROM mannschaft, wettb_def WHERE id = Wettb_id AND "
    "vereinsnr = ?  and (wettb_def.selekt is null or wettb_def.selekt<>1)  order by Wettb_id";

constexpr std::string_view kTeams =
    "SELECT mannschaft.wettb_id, mannschaft.MRang, mannschaft.Name, mann_teiln.Startnr, mannschaft.Mann_id, "
    "wettb_def.Titel, Nachname, Vorname, HauptErg, MErgebnis FROM wettb_def, mannschaft, mann_teiln, starter, "
    "raenge WHERE mannschaft.Mann_id = mann_teiln.Mann_id AND wettb_def.ID = mannschaft.Wettb_id AND "
    "starter.Startnr = mann_teiln.Startnr AND starter.Startnr = raenge.Startnr AND wettb_def.ID = "
    "raenge.ErglistID AND mannschaft.vereinsnr = ? and wettb_id=? ORDER BY mannschaft.MRang, raenge.rang";

}  // namespace

std::string mmerl_page(PageContext& ctx, std::string_view query) {
    const db::Snapshot& snapshot = page_snapshot(ctx);
    const std::string club_nr(before_inner_amp(value_after_key(query, "vnr=")));
    const std::string_view wettbid =
        query.find("wettbid=") == std::string_view::npos ? "0" : before_inner_amp(value_after_key(query, "wettbid="));
    // Only the text "0" means every competition; any other value is the competition's number.
    std::optional<int64_t> one;
    if (wettbid != "0") one = whole_number(wettbid, "Wettbewerbsnummer");

    db::Query a1, a2;
    a1.set_command(kClubStatement);
    a1.open(snapshot, {club_nr});
    const std::string club_name = a1.field("name").as_text();
    a1.close();

    std::string out =
        "<a href=\"vstbl.php\">Meistbeteiligungsliste</a> | <a href=\"vst.php?NR=$vnr\">Starterliste</a><hr>";
    out += "<Font size=\"5\"><b><u>";
    out += club_name;
    out += "</u></b></font><br>\r";

    if (one) {
        a1.set_command(kOneCompetition);
        a1.open(snapshot, {club_nr, *one});
    } else {
        a1.set_command(kAllCompetitions);
        a1.open(snapshot, {club_nr});
    }
    while (!a1.at_end()) {
        const int64_t competition = a1.field("Wettb_id").as_int();
        const std::string title = a1.field("titel").as_text();
        // The page has no counting number of its own; like merl.php it greys the members beyond
        // the competition's "MANNMODE" number.
        const int64_t counting = counting_number(snapshot, competition);

        a2.close();
        a2.set_command(kTeams);
        {
            const db::ReadRecorder::KeyedScope ranks_of_list("raenge", "ErglistID", competition);
            a2.open(snapshot, {club_nr, competition});
        }
        out += "<br><br><Font size=\"5\">";
        out += title;
        out += " </font><br> <table border=0 width=400><tr><th width=70><u>Rang</u></th><th><u>Name</u></th>";
        out += "<th><p align=\"right\"><u>Erg</u></p></th></tr>\r\n";

        int64_t previous = 0, member = 0;
        while (!a2.at_end()) {
            const TeamRow row = read_team_row(a2);
            if (row.rank != previous) {
                if (previous > 0) out += "</table><td></td></tr>\r";
                previous = row.rank;
                append_team_header(out, row, false);
                member = 0;
            }
            ++member;
            append_member_row(out, row, " align=\"center\"", "", member_font(member, counting));
            a2.next();
        }
        out += "</table></table>";
        a1.next();
    }
    out += "</table>";
    return out;
}

}  // namespace ringolan::pages
