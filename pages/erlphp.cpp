#include "pages/erlphp.h"

#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "common/regional.h"
#include "db/query/query.h"
#include "db/snapshot/read_recorder.h"
#include "pages/params.h"
#include "pages/statements.h"

namespace ringolan::pages {

namespace {

}  // namespace

std::string result_cell(double value) {
    if (value > 0 && value <= 10000) return regional::one_decimal(value);
    return {};
}

namespace {

// The list's title and the table head; sets main_result when the list ranks by the main
// result alone (ring/blattl, blattl/ring).
std::string list_head(const db::Snapshot& snapshot, int64_t list, bool& main_result) {
    db::Query a1;
    a1.set_command(kListStatement);
    a1.open(snapshot, {list});
    std::string out = "<font size=\"5\">";
    out += a1.field("titel").as_text();
    out += "</font><hr><table border=0><tr><th>Rang</th><th>St.Nr</th><th>Name </th>";
    out += "<th>Verein</th><th>Ergebnis</th><th> </th></tr>\r";
    const std::string sortierung = a1.field("Sortierung").as_text();
    main_result = sortierung == "ring/blattl" || sortierung == "blattl/ring";
    return out;
}

// The result cells of the current rank: the main result alone, or e1..e7.
std::array<std::string, 7> rank_results(const db::Query& a1, bool main_result) {
    std::array<std::string, 7> cells;
    if (main_result) {
        cells[0] = result_cell(a1.field("Haupterg").as_real());
    } else {
        for (int n = 1; n <= 7; ++n) cells[n - 1] = result_cell(a1.field("e" + std::to_string(n)).as_real());
    }
    return cells;
}

// The texts of the current rank.
struct Rank {
    std::string startnr, rang, unit, name, club_name, club_nr;
};

Rank rank_texts(const db::Query& a1) {
    Rank r;
    r.startnr = a1.field("startnr").as_text();
    r.rang = a1.field("Rang").as_text();
    r.unit = a1.field("Einheit").as_text();
    r.name = a1.field("Nachname").as_text() + ", " + a1.field("Vorname").as_text();
    r.club_name = a1.field("Name").as_text();
    r.club_nr = a1.field("Vereinsnr").as_text();
    return r;
}

// One table row; h is the cells' highlight attribute.
void append_rank_row(std::string& out, const Rank& r, const std::array<std::string, 7>& cells, std::string_view h) {
    out += "<tr><td";
    out += h;
    out += ">";
    out += r.rang;
    out += "</td>";
    out += "<td";
    out += h;
    out += "><font size=2>";
    out += r.startnr;
    out += "</font></td>";
    out += "<td";
    out += h;
    out += "><a href = \"est.php?ST=";
    out += r.startnr;
    out += "\" > ";
    out += r.name;
    out += " </a></td>";
    out += "<td";
    out += h;
    out += "><a href = \"vst.php?NR=";
    out += r.club_nr;
    out += "\" > ";
    out += r.club_name;
    out += "</a></td >";
    out += "<td";
    out += h;
    out += "><p align = \"right\"><b>";
    out += cells[0];
    out += " ";
    out += r.unit;
    out += "</b></p></td>";
    out += "<td";
    out += h;
    out += "><p align=\"right\" ><fontsize=2>";
    out += cells[1];
    out += "</p></font></td> ";
    if (r.unit == "R") {
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
}

// A list's head and ranks, read once per snapshot for all the addresses that show it (they
// differ only in the shooter they mark).
struct ListRanks {
    std::string head;
    std::vector<std::pair<Rank, std::array<std::string, 7>>> rows;
    std::size_t bytes() const {
        std::size_t n = sizeof *this + head.size() + rows.size() * sizeof(rows[0]);
        for (const auto& [r, cells] : rows) {
            n += r.startnr.size() + r.rang.size() + r.unit.size() + r.name.size() + r.club_name.size() +
                 r.club_nr.size();
            for (const std::string& c : cells) n += c.size();
        }
        return n;
    }
};

std::shared_ptr<const ListRanks> list_ranks(const db::Snapshot& snapshot, int64_t list) {
    return snapshot.memo<ListRanks>("erl.php " + std::to_string(list), [&] {
        ListRanks ranks;
        bool main_result = false;
        ranks.head = list_head(snapshot, list, main_result);
        db::Query a1;
        a1.set_command(kListRanksStatement);
        {
            const db::ReadRecorder::KeyedScope ranks_of_list("raenge", "ErglistID", list);
            a1.open(snapshot, {list});
        }
        ranks.rows.reserve(a1.row_count());
        for (; !a1.at_end(); a1.next()) ranks.rows.emplace_back(rank_texts(a1), rank_results(a1, main_result));
        return ranks;
    });
}

}  // namespace

std::string erl_page(PageContext& ctx, std::string_view query) {
    const db::Snapshot& snapshot = page_snapshot(ctx);
    const std::string_view highlight_nr = cut_before_amp(value_after_key(query, "startnr="));
    const int64_t list = whole_number(cut_before_amp(value_after_key(query, "titel=")), "Listennummer");

    const auto ranks = list_ranks(snapshot, list);
    std::string out = ranks->head;
    out.reserve(out.size() + ranks->rows.size() * 600 + 8);
    for (const auto& [r, cells] : ranks->rows)
        append_rank_row(out, r, cells, highlight_nr == r.startnr ? " bgcolor=\"#FFFFFF\"" : "");
    out += "</table>";
    return out;
}

}  // namespace ringolan::pages
