#include "pages/erlphp.h"

#include <array>

#include "common/regional.h"
#include "db/query/query.h"
#include "pages/params.h"

namespace ringolan::pages {

namespace {

constexpr std::string_view kList = "SELECT  *  FROM wettb_def  WHERE ID = ?";
constexpr std::string_view kRanks =
    "SELECT raenge.*, wettb_def.Sortierung, wettb_def.Titel,  starter.Nachname, starter.Vorname, verein.Name, "
    "verein.vereinsnr FROM verein,starter,wettb_def,raenge WHERE raenge.ErglistID=?"
    " and wettb_def.ID = raenge.ErglistID and starter.Startnr = raenge.Startnr and verein.Vereinsnr = "
    "starter.Vereinsnr "
    "ORDER BY raenge.Rang ";

}  // namespace

std::string result_cell(double value) {
    if (value > 0 && value <= 10000) return regional::one_decimal(value);
    return {};
}

std::string erl_page(PageContext& ctx, std::string_view query) {
    if (!ctx.snapshot) throw db::QueryError("Keine Wettkampfdatenbank ge\xF6" "ffnet");  // Windows-1252, as every page text
    const std::string_view highlight_nr = cut_before_amp(value_after_key(query, "startnr="));
    const int64_t list = whole_number(cut_before_amp(value_after_key(query, "titel=")), "Listennummer");

    db::Query a1;
    a1.set_command(kList);
    a1.open(*ctx.snapshot, {list});
    std::string out = "<font size=\"5\">";
    out += a1.field("titel").as_text();
    out += "</font><hr><table border=0><tr><th>Rang</th><th>St.Nr</th><th>Name </th>";
    out += "<th>Verein</th><th>Ergebnis</th><th> </th></tr>\r";
    const std::string sortierung = a1.field("Sortierung").as_text();
    const bool main_result = sortierung == "ring/blattl" || sortierung == "blattl/ring";

    a1.close();
    a1.set_command(kRanks);
    a1.open(*ctx.snapshot, {list});
    out.reserve(out.size() + a1.row_count() * 600 + 8);
    while (!a1.at_end()) {
        std::array<std::string, 7> cells;
        if (main_result) {
            cells[0] = result_cell(a1.field("Haupterg").as_real());
        } else {
            for (int n = 1; n <= 7; ++n) cells[n - 1] = result_cell(a1.field("e" + std::to_string(n)).as_real());
        }
        const std::string startnr = a1.field("startnr").as_text();
        const std::string rang = a1.field("Rang").as_text();
        const std::string unit = a1.field("Einheit").as_text();
        const std::string name = a1.field("Nachname").as_text() + ", " + a1.field("Vorname").as_text();
        const std::string club_name = a1.field("Name").as_text();
        const std::string club_nr = a1.field("Vereinsnr").as_text();
        const std::string_view h = highlight_nr == startnr ? " bgcolor=\"#FFFFFF\"" : "";

        out += "<tr><td";
        out += h;
        out += ">";
        out += rang;
        out += "</td>";
        out += "<td";
        out += h;
        out += "><font size=2>";
        out += startnr;
        out += "</font></td>";
        out += "<td";
        out += h;
        out += "><a href = \"est.php?ST=";
        out += startnr;
        out += "\" > ";
        out += name;
        out += " </a></td>";
        out += "<td";
        out += h;
        out += "><a href = \"vst.php?NR=";
        out += club_nr;
        out += "\" > ";
        out += club_name;
        out += "</a></td >";
        out += "<td";
        out += h;
        out += "><p align = \"right\"><b>";
        out += cells[0];
        out += " ";
        out += unit;
        out += "</b></p></td>";
        out += "<td";
        out += h;
        out += "><p align=\"right\" ><fontsize=2>";
        out += cells[1];
        out += "</p></font></td> ";
        if (unit == "R") {
            for (size_t c = 2; c <= 6; ++c) {
                if (cells[c].empty()) {
                    out += "<td></td>";
                    continue;
                }
                out += "<td";
                out += h;
                out += "><p align=\"right\"><font size=2>";
                out += cells[c];
                out += "</font></p></td>";
            }
        }
        out += " </tr>\r";
        a1.next();
    }
    out += "</table>";
    return out;
}

}  // namespace ringolan::pages
