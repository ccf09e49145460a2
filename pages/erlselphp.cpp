#include "pages/erlselphp.h"

#include "db/query/query.h"
#include "pages/statements.h"

namespace ringolan::pages {

namespace {

// One link per list: "<a href=\"<page>?startnr=0&titel=<id>&Rang=0\"><title></a><br>\r".
void append_links(std::string& out, db::Query& q, std::string_view page) {
    while (!q.at_end()) {
        const std::string title = q.field("titel").as_text();
        const std::string id = q.field("id").as_text();
        q.next();
        out += "<a href=\"";
        out += page;
        out += "?startnr=0&titel=";
        out += id;
        out += "&Rang=0\">";
        out += title;
        out += "</a><br>\r";
    }
}

}  // namespace

std::string erlsel_page(PageContext& ctx) {
    const db::Snapshot& snapshot = page_snapshot(ctx);
    db::Query a1;
    a1.set_command(kTeamListsStatement);
    a1.open(snapshot);
    std::string out = "<Font size=\"5\"> Mannschaftsk\xE4mpfe:</font><br>";
    append_links(out, a1, "merl.php");

    a1.close();
    a1.set_command(kSingleListsStatement);
    a1.open(snapshot);
    out += "<br><hr><Font size=\"5\">Einzelk\xE4mpfe:</font><br>";
    append_links(out, a1, "erl.php");
    return out;
}

}  // namespace ringolan::pages
