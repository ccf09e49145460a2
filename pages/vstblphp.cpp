#include "pages/vstblphp.h"

#include "db/query/query.h"
#include "pages/statements.h"

namespace ringolan::pages {

namespace {

constexpr std::string_view kTableStart =
    "   <table border='1'>  <tr>    <td width='300'><b>Verein </b></td>    <td width='50'><b>Anzahl</b></td>  </tr>  ";

}  // namespace

std::string vstbl_page(PageContext& ctx) {
    const db::Snapshot& snapshot = page_snapshot(ctx);
    db::Query a1;
    a1.set_command(kClubCountsStatement);
    a1.open(snapshot);

    std::string out(kTableStart);
    out.reserve(kTableStart.size() + a1.row_count() * 120 + 8);
    while (!a1.at_end()) {
        const std::string nr = a1.field("Vereinsnr").as_text();
        const std::string name = a1.field("name").as_text();
        const std::string count = a1.field("anzahl").as_text();
        out += "<tr><td><a href=\"vst.php?NR=";
        out += nr;
        out += "\">";
        out += name;
        out += "</a></td> <td><a href=\"vst.php?NR=";
        out += nr;
        out += "\">";
        out += count;
        out += "</a></td></tr>\n";
        a1.next();
    }
    out += "</table>";
    return out;
}

}  // namespace ringolan::pages
