#include "pages/estphp.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "common/escape.h"
#include "common/regional.h"
#include "db/query/query.h"
#include "db/snapshot/read_recorder.h"
#include "pages/params.h"
#include "pages/statements.h"

namespace ringolan::pages {

namespace {

constexpr std::string_view kShooterStatement =
    "SELECT starter.Startnr, starter.Nachname, starter.Vorname, verein.Name,verein.Vereinsnr FROM verein "
    "INNER JOIN starter ON verein.Vereinsnr = starter.Vereinsnr WHERE Startnr=?";

// "Teiler" values count hundredths; 1000000 stands for "no shot".
constexpr int64_t kNoTeiler = 1000000;

// The fields a rank row shows, read from the current row of `q`.
struct RankRow {
    std::string id, titel, rang, einheit, erglist, e1;
    std::string e[4];  // E2 to E5, empty outside (0.1, 10000)

    explicit RankRow(const db::Query& q)
        : id(q.field("id").as_text()),
          titel(q.field("titel").as_text()),
          rang(q.field("Rang").as_text()),
          einheit(q.field("Einheit").as_text()),
          erglist(q.field("ErglistID").as_text()),
          e1(regional::one_decimal(q.field("E1").as_real())) {
        static constexpr std::string_view kNames[4] = {"E2", "E3", "E4", "E5"};
        for (int i = 0; i < 4; ++i) {
            const double v = q.field(kNames[i]).as_real();
            if (v > 0.1 && v < 10000) e[i] = regional::one_decimal(v);
        }
    }
};

// "href=\"<page>?startnr=<nr>&titel=<list>&Rang=<rank>\"" as the rank rows write it.
void append_list_link(std::string& out, std::string_view page, std::string_view nr, const RankRow& r) {
    out += "<a href=\"";
    out += page;
    out += "?startnr=";
    out += nr;
    out += "&titel=";
    out += r.erglist;
    out += "&Rang=";
    out += r.rang;
    out += "\">";
}

void append_target_link(std::string& out, std::string_view nr, const std::string& dp_id, const std::string& sch_id) {
    out += "<a href=\"sb.php?ST=";
    out += nr;
    out += "&sb=LG1&bz=";
    out += dp_id;
    out += "&sid=";
    out += sch_id;
    out += "\">";
}

void append_head(std::string& out, const std::string& surname, const std::string& first_name,
                 const std::string& club_nr, const std::string& club_name) {
    out += "     <a href=\"vstbl.php\">Meistbeteiligungsliste</a> |     <a href=\"mmerl.php?vnr=";
    out += club_nr;
    out += "\">Mannschaften</a><hr>\r";
    out += "<font size=\"5\">";
    out += surname;
    out += ", ";
    out += first_name;
    out += " </font><br>\r";
    out += "    <a href=\"vst.php?NR=";
    out += club_nr;
    out += "\">";
    out += club_name;
    out += "    </a> | <a href=\"mmerl.php?vnr=";
    out += club_nr;
    out += "\">Mannschaften</a><hr>\r";
    out += "<b>Geschossene Ergebnisse</b><br>\r";
    out += "<table border=\"0\" >";
    out += "  <tr>";
    out += "    <td width=\"250\"><b>Scheiben</b></td>";
    out += "    <td width=\"50\" align=\"right\"><b>Ring</b></td><td width=\"50\" ";
    out += "align=\"right\"><b>Teiler</b></td></tr>\r";
}

void append_targets(std::string& out, db::Query& a1, std::string_view nr) {
    static const std::string kTeilerFields[15] = {"T1", "T2",  "T3",  "T4",  "T5",  "T6",  "T7", "T8",
                                                  "T9", "T10", "T11", "T12", "T13", "T14", "T15"};
    for (; !a1.at_end(); a1.next()) {
        const std::string name = a1.field("Bezeichnung").as_text();
        int64_t best = kNoTeiler;
        for (const std::string& f : kTeilerFields) {
            const int64_t t = a1.field(f).as_int();
            if (t > 0 && t < best) best = t;
        }
        const std::string measuring = a1.field("Teilermessung").as_text();
        const std::string sch_id = a1.field("scheiben.sch_id").as_text();
        const std::string dp_id = a1.field("dp_id").as_text();

        out += "<tr><td>";
        append_target_link(out, nr, dp_id, sch_id);
        out += name;
        out += "</a></td>\r<td align=\"right\">";
        out += measuring == "Blattl" ? std::string("--") : regional::one_decimal(a1.field("Summe").as_real());
        out += "</td>\r<td align=\"right\">";
        out += measuring == "Ring" ? std::string("--") : regional::one_decimal_hundredths(best);
        out += "</td>\r<td>";
        append_target_link(out, nr, dp_id, sch_id);
        out += " <img border=\"0\" src=\"scheibe2.png\" alt=\"Schussbild\"></a></td></tr>\r\r";
    }
}

void append_team_ranks(std::string& out, db::Query& a1, std::string_view nr, const std::string& club_nr) {
    for (; !a1.at_end(); a1.next()) {
        const RankRow r(a1);
        out += "<tr><td>";
        append_list_link(out, "merl.php", nr, r);
        out += r.titel;
        out += "</a></td><td>Mann</td>";
        out += "<td><p align=\"right\"><b>";
        out += r.e1;
        out += " ";
        out += r.einheit;
        out += "</b></p></td>";
        for (const std::string& e : r.e) {
            out += "<td><p align=\"right\">";
            out += e;
            out += "</p></td>";
        }
        out += "<td>";
        append_list_link(out, "merl.php", nr, r);
        out += "<img border=\"0\" src=\"liste.gif\" alt=\"Rangliste\"></a>";
        out += "<a href=\"mmerl.php?vnr=";
        out += club_nr;
        out += "&wettbid=";
        out += r.id;
        out += "\"><img border=\"0\" src=\"Drucker.gif\" alt=\"Nur Dein Verein\">";
        out += "</a></td></tr>";
    }
}

void append_single_ranks(std::string& out, db::Query& a1, std::string_view nr) {
    for (; !a1.at_end(); a1.next()) {
        const RankRow r(a1);
        out += "<tr><td>";
        append_list_link(out, "erl.php.php", nr, r);
        out += r.titel;
        out += "</a></td><td>";
        out += r.rang;
        out += "</td>\r";
        out += "<td><p align=\"right\"><b>";
        out += r.e1;
        out += " ";
        out += r.einheit;
        out += "</b></p></td>\r";
        for (const std::string& e : r.e) {
            out += "<td><p align=\"right\">";
            out += e;
            out += "</p></td>\r";
        }
        out += "<td>";
        append_list_link(out, "erl.php.php", nr, r);
        out += "<img border=\"0\" src=\"liste.gif\" alt=\"Rangliste\"></a>\r";
        out += "</td></tr>";
    }
}

}  // namespace

namespace {

// What the targets statement reads, by key: the shooter's results, and the targets their
// assignments name.
constexpr std::string_view kShooterResults = "SELECT Erg_id FROM ergebnis WHERE Startnr = ?";
constexpr std::string_view kShooterAssignedTargets =
    "SELECT zuordnung.Scheiben_id FROM ergebnis, zuordnung WHERE ergebnis.Startnr = ? AND "
    "zuordnung.Erg_id = ergebnis.Erg_id";

// The whole numbers in the first column of the query's rows for the shooter; nothing when one
// is another value or the statement fails (the page's own statement then tells why).
std::optional<std::vector<int64_t>> whole_numbers(db::Query& q, const db::Snapshot& snapshot, int64_t startnr) {
    std::vector<int64_t> values;
    try {
        q.open(snapshot, {startnr});
        for (; !q.at_end(); q.next()) {
            const db::Field f = q.field(0);
            if (f.is_null()) continue;
            if (f.type() != db::FieldType::Integer) return std::nullopt;
            values.push_back(f.as_int());
        }
    } catch (const db::QueryError&) {
        return std::nullopt;
    }
    return values;
}

// The targets statement read by key where that can be known: the shooter's results, the
// assignments of those results, the targets they assign. A page read so carries over to states
// that changed only other shooters' targets. Where the lookups fail (the page's statement then
// fails too) or find values that are no keys, it is read whole.
void open_targets(db::Query& a1, const db::Snapshot& snapshot, int64_t startnr) {
    std::optional<std::vector<int64_t>> results, targets;
    {
        const db::ReadRecorder::KeyedScope results_of_shooter("ergebnis", "Startnr", startnr);
        db::Query q;
        q.set_command(kShooterResults);
        results = whole_numbers(q, snapshot, startnr);
        if (results) {
            const db::ReadRecorder::KeyedScope assignments_of_results("zuordnung", "Erg_id", *results);
            q.close();
            q.set_command(kShooterAssignedTargets);
            targets = whole_numbers(q, snapshot, startnr);
        }
    }
    if (!results || !targets) return a1.open(snapshot, {startnr});
    const db::ReadRecorder::KeyedScope results_of_shooter("ergebnis", "Startnr", startnr);
    const db::ReadRecorder::KeyedScope assignments_of_results("zuordnung", "Erg_id", *results);
    const db::ReadRecorder::KeyedScope assigned_targets("scheiben", "Sch_id", *targets);
    a1.open(snapshot, {startnr});
}

}  // namespace

std::string est_page(PageContext& ctx, std::string_view query) {
    const db::Snapshot& snapshot = page_snapshot(ctx);
    const std::string_view raw = value_after_first_equals(query);
    const int64_t startnr = whole_number(raw, "Startnummer");
    // Echoed into the links as given (blanks and sign included), never into SQL.
    const std::string nr = text::escape_html(raw, text::Ampersand::Kept);

    db::Query a1;
    a1.set_command(kShooterStatement);
    a1.open(snapshot, {startnr});
    std::string surname, first_name, club_nr, club_name;
    if (!a1.at_end()) {
        surname = a1.field("nachname").as_text();
        first_name = a1.field("vorname").as_text();
        club_nr = a1.field("Vereinsnr").as_text();
        club_name = a1.field("name").as_text();
    }
    std::string out;
    append_head(out, surname, first_name, club_nr, club_name);

    a1.close();
    a1.set_command(kShooterTargetsStatement);
    open_targets(a1, snapshot, startnr);
    append_targets(out, a1, nr);

    out += "</table><table border=0><tr><th><p align=\"left\">Wettbewerb</p> ";
    out += "</th><th>Rang </th>.<th>Erg</th><th> </th></tr>";

    a1.close();
    a1.set_command(kShooterTeamRanksStatement);
    {
        const db::ReadRecorder::KeyedScope ranks_of_shooter("raenge", "Startnr", startnr);
        a1.open(snapshot, {startnr});
    }
    append_team_ranks(out, a1, nr, club_nr);

    a1.close();
    a1.set_command(kShooterSingleRanksStatement);
    {
        const db::ReadRecorder::KeyedScope ranks_of_shooter("raenge", "Startnr", startnr);
        a1.open(snapshot, {startnr});
    }
    append_single_ranks(out, a1, nr);

    out += "</table> ";
    return out;
}

}  // namespace ringolan::pages
