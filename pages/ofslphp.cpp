#include "pages/ofslphp.h"

#include "common/escape.h"
#include "db/query/query.h"
#include "pages/params.h"

namespace ringolan::pages {

namespace {

// The pattern is the initial text followed by "%".
constexpr std::string_view kStatement =
    "SELECT starter.Startnr, starter.Nachname, starter.Vorname, verein.Name, verein.Vereinsnr FROM verein "
    "INNER JOIN starter ON verein.Vereinsnr = starter.Vereinsnr  WHERE (nachname like ?)  ORDER BY nachname, "
    "Vorname";

}  // namespace

std::string ofls_page(PageContext& ctx, std::string_view query) {
    const db::Snapshot& snapshot = page_snapshot(ctx);
    const std::string_view initial = quoted_text(value_after_first_equals(query), "Anfangsbuchstaben");

    db::Query a1;
    a1.set_command(kStatement);
    a1.open(snapshot, {std::string(initial) + "%"});

    std::string out = "Namen mit dem Anfangsbuchstaben ";
    out += text::escape_html(initial, text::Ampersand::Kept);
    out += "<table border=1><tr><th>Startnr</th><th>Name </th>";
    out += "<th>Verein</th></tr>\r";
    out.reserve(out.size() + a1.row_count() * 200 + 16);
    for (; !a1.at_end(); a1.next()) {
        const std::string nr = a1.field("Startnr").as_text();
        out += "<tr><td><a href=\"est.php?ST=";
        out += nr;
        out += "\">";
        out += nr;
        out += "</a></td><td><a href=\"est.php?ST=";
        out += nr;
        out += "\">";
        out += a1.field("nachname").as_text();
        out += ", ";
        out += a1.field("vorname").as_text();
        out += "</a></td>";
        out += "<td><a href=\"vst.php?NR=";
        out += a1.field("Vereinsnr").as_text();
        out += "\">";
        out += a1.field("name").as_text();
        out += "</a></td></tr>\r";
    }
    out += "</table> ";
    return out;
}

}  // namespace ringolan::pages
