#include "pages/vstphp.h"

#include "common/escape.h"
#include "db/query/query.h"
#include "pages/params.h"
#include "pages/statements.h"

namespace ringolan::pages {

namespace {

}  // namespace

std::string vst_page(PageContext& ctx, std::string_view query) {
    const db::Snapshot& snapshot = page_snapshot(ctx);
    const std::string club_nr(quoted_text(value_after_first_equals(query), "Vereinsnummer"));

    db::Query a1;
    a1.set_command(kClubStatement);
    a1.open(snapshot, {club_nr});
    const std::string club_name = a1.at_end() ? std::string() : a1.field("name").as_text();

    std::string out = "     <a href='vstbl.php'>Meistbeteiligungsliste</a> |     <a href='mmerl.php?vnr=";
    out += text::escape_html(club_nr, text::Ampersand::Kept);
    out += "'>Mannschaften</a>";
    out += "    <hr>";
    out += "    <font size='5'>";
    out += club_name;
    out += "</font> <hr>";
    out += "<table border=\"0\">";

    a1.close();
    a1.set_command(kClubShootersStatement);
    a1.open(snapshot, {club_nr});
    out.reserve(out.size() + a1.row_count() * 80 + 8);
    for (; !a1.at_end(); a1.next()) {
        out += "<tr><td><a href=\"est.php?ST=";
        out += a1.field("Startnr").as_text();
        out += "\">";
        out += a1.field("nachname").as_text();
        out += " ";
        out += a1.field("vorname").as_text();
        out += "</a></td></tr>\n";
    }
    out += "</table>";
    return out;
}

}  // namespace ringolan::pages
