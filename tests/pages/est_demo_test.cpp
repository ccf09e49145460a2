// est.php for every shooter of the 300-shooter demo competition, each page checked against
// the tables read independently through libmdb.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "common/cp1252.h"
#include "common/regional.h"
#include "db/mdbread/mdb_read.h"
#include "pages/estphp.h"
#include "tests/pages/page_fixture.h"
#include "tools/mkdemo/demo.h"

namespace {

namespace jet = ringolan::jet;
using ringolan::mdbread::TableData;

// A table read through libmdb with its columns found by name.
struct Table {
    TableData data;
    size_t col(const std::string& name) const {
        for (size_t i = 0; i < data.columns.size(); ++i)
            if (ringolan::text::ascii_lower(data.columns[i].name) == ringolan::text::ascii_lower(name)) return i;
        ADD_FAILURE() << "no column " << name << " in " << data.name;
        return 0;
    }
};

bool is_null(const jet::Value& v) { return std::holds_alternative<jet::Null>(v); }
int64_t as_int(const jet::Value& v) { return is_null(v) ? 0 : std::get<int64_t>(v); }
double as_real(const jet::Value& v) {
    if (is_null(v)) return 0;
    if (const auto* i = std::get_if<int64_t>(&v)) return double(*i);
    return std::get<double>(v);
}
std::string as_text(const jet::Value& v) {
    return is_null(v) ? std::string() : ringolan::text::utf8_to_cp1252(std::get<std::string>(v));
}

// The rows of one section: each begins with "<tr><td><a href=\"<page>?" and the first link's
// parameters are returned as written.
std::vector<std::string> first_links(const std::string& section, const std::string& page) {
    std::vector<std::string> out;
    const std::string open = "<tr><td><a href=\"" + page + "?";
    for (size_t at = section.find(open); at != std::string::npos; at = section.find(open, at + 1)) {
        const size_t start = at + open.size();
        out.push_back(section.substr(start, section.find('"', start) - start));
    }
    return out;
}

std::string param(const std::string& link, const std::string& key) {
    const size_t at = link.find(key + "=");
    if (at == std::string::npos) return "";
    const size_t start = at + key.size() + 1;
    return link.substr(start, link.find('&', start) - start);
}

struct TargetCells { std::string name, ring, teiler; };

TEST(EstDemo, EveryShooterOfTheDemoCompetition) {
    const auto file = ringolan::test_pages::test_dir() / "demo300.mdb";
    ringolan::demo::DemoOptions options;
    options.shooters = 300;
    ringolan::demo::write_demo(options, file);
    ringolan::pages::PageContext ctx;
    ctx.snapshot = ringolan::test_pages::snapshot_of(file);

    std::map<std::string, Table> t;
    for (auto& d : ringolan::mdbread::read_all(file)) {
        const std::string key = ringolan::text::ascii_lower(d.name);
        t[key] = Table{std::move(d)};
    }
    const Table &starter = t["starter"], &verein = t["verein"], &ergebnis = t["ergebnis"], &zuordnung = t["zuordnung"],
                &scheiben = t["scheiben"], &wettk = t["wettk"], &raenge = t["raenge"], &wettb_def = t["wettb_def"],
                &mannschaft = t["mannschaft"], &mann_teiln = t["mann_teiln"];
    ASSERT_EQ(starter.data.rows.size(), 300u);

    std::map<std::string, std::string> club_names;  // by number (numbers in the demo differ in more than case)
    for (const auto& r : verein.data.rows) club_names[as_text(r[verein.col("Vereinsnr")])] = as_text(r[verein.col("Name")]);
    std::map<int64_t, std::pair<std::string, std::string>> disciplines;  // name, Teilermessung
    for (const auto& r : wettk.data.rows)
        disciplines[as_int(r[wettk.col("DP_ID")])] = {as_text(r[wettk.col("Bezeichnung")]),
                                                       as_text(r[wettk.col("Teilermessung")])};
    // Cells of every target, worked out from the row: best Teiler is the smallest positive t.
    std::map<int64_t, std::pair<double, int64_t>> target_values;  // summe, best Teiler
    for (const auto& r : scheiben.data.rows) {
        int64_t best = 1000000;
        for (int i = 1; i <= 15; ++i) {
            const int64_t v = as_int(r[scheiben.col("t" + std::to_string(i))]);
            if (v > 0) best = std::min(best, v);
        }
        target_values[as_int(r[scheiben.col("Sch_id")])] = {as_real(r[scheiben.col("summe")]), best};
    }
    std::map<int64_t, std::pair<bool, int64_t>> lists;  // team, selekt (-1 for NULL)
    for (const auto& r : wettb_def.data.rows) {
        const auto& s = r[wettb_def.col("selekt")];
        lists[as_int(r[wettb_def.col("ID")])] = {std::get<bool>(r[wettb_def.col("mannschaft")]), is_null(s) ? -1 : as_int(s)};
    }

    size_t pages_with_targets = 0, pages_with_team_rows = 0, pages_with_single_rows = 0;
    for (const auto& s : starter.data.rows) {
        const int64_t nr = as_int(s[starter.col("Startnr")]);
        const std::string nr_text = std::to_string(nr);
        SCOPED_TRACE("Startnr " + nr_text);
        const std::string page = ringolan::pages::est_page(ctx, "ST=" + nr_text);

        // Head: name and club when the shooter's club has a row.
        const std::string club = as_text(s[starter.col("Vereinsnr")]);
        const bool joined = club_names.count(club) > 0;
        const std::string name_line = "<font size=\"5\">" + (joined ? as_text(s[starter.col("Nachname")]) + ", " +
                                                                         as_text(s[starter.col("Vorname")])
                                                                   : std::string(", ")) +
                                      " </font><br>\r";
        EXPECT_NE(page.find(name_line), std::string::npos);
        if (joined) {
            EXPECT_NE(page.find("<a href=\"vst.php?NR=" + club + "\">" + club_names[club] + "    </a>"), std::string::npos);
        }
        ASSERT_TRUE(page.ends_with("</table> "));

        const size_t split = page.find("</table><table border=0>");
        ASSERT_NE(split, std::string::npos);
        const std::string targets = page.substr(0, split), ranks = page.substr(split);

        // Targets: the joined scheiben rows of this shooter, each once, with its cells.
        std::multiset<std::string> expected_sids;
        for (const auto& e : ergebnis.data.rows) {
            if (as_int(e[ergebnis.col("Startnr")]) != nr) continue;
            const int64_t erg = as_int(e[ergebnis.col("Erg_id")]), dp = as_int(e[ergebnis.col("DP_Id")]);
            if (!disciplines.count(dp)) continue;
            for (const auto& z : zuordnung.data.rows)
                if (as_int(z[zuordnung.col("Erg_id")]) == erg && target_values.count(as_int(z[zuordnung.col("Scheiben_id")])))
                    expected_sids.insert(std::to_string(as_int(z[zuordnung.col("Scheiben_id")])) + "/" + std::to_string(dp));
        }
        const auto target_links = first_links(targets, "sb.php");
        std::multiset<std::string> shown_sids;
        std::string previous_name;
        std::set<std::string> finished_names;
        for (const auto& link : target_links) {
            EXPECT_EQ(param(link, "ST"), nr_text);
            const std::string sid = param(link, "sid"), bz = param(link, "bz");
            shown_sids.insert(sid + "/" + bz);
            const auto& [summe, best] = target_values[std::atoll(sid.c_str())];
            const auto& [dname, measuring] = disciplines[std::atoll(bz.c_str())];
            const std::string ring = measuring == "Blattl" ? "--" : ringolan::regional::one_decimal(summe);
            const std::string teiler = measuring == "Ring" ? "--" : ringolan::regional::one_decimal_hundredths(best);
            const std::string row = "<a href=\"sb.php?" + link + "\">" + dname + "</a></td>\r<td align=\"right\">" + ring +
                                    "</td>\r<td align=\"right\">" + teiler + "</td>\r";
            EXPECT_NE(targets.find(row), std::string::npos) << row;
            // Targets of one discipline name stand together.
            if (dname != previous_name) {
                EXPECT_FALSE(finished_names.count(dname)) << dname << " appears in two places";
                finished_names.insert(previous_name);
                previous_name = dname;
            }
        }
        EXPECT_EQ(shown_sids, expected_sids);
        pages_with_targets += !target_links.empty();

        // Ranks: team rows for lists where the shooter is in a team of that list; single rows
        // for the other shown lists; each section in rank order.
        size_t expected_team = 0, expected_single = 0;
        for (const auto& r : raenge.data.rows) {
            if (as_int(r[raenge.col("Startnr")]) != nr) continue;
            const int64_t list = as_int(r[raenge.col("ErglistID")]);
            if (!lists.count(list)) continue;
            for (const auto& m : mannschaft.data.rows) {
                if (as_int(m[mannschaft.col("Wettb_id")]) != list) continue;
                for (const auto& mt : mann_teiln.data.rows)
                    if (as_int(mt[mann_teiln.col("Mann_id")]) == as_int(m[mannschaft.col("Mann_id")]) &&
                        as_int(mt[mann_teiln.col("Startnr")]) == nr)
                        ++expected_team;
            }
            if (!lists[list].first && lists[list].second != 1) ++expected_single;
        }
        const auto team_links = first_links(ranks, "merl.php"), single_links = first_links(ranks, "erl.php.php");
        EXPECT_EQ(team_links.size(), expected_team);
        EXPECT_EQ(single_links.size(), expected_single);
        for (const auto* links : {&team_links, &single_links}) {
            std::vector<long long> order;
            for (const auto& link : *links) {
                EXPECT_EQ(param(link, "startnr"), nr_text);
                order.push_back(std::atoll(param(link, "Rang").c_str()));
            }
            EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
        }
        // Team rows stand before single rows.
        if (!team_links.empty() && !single_links.empty()) {
            EXPECT_LT(ranks.rfind("merl.php?startnr="), ranks.find("erl.php.php?startnr="));
        }
        pages_with_team_rows += !team_links.empty();
        pages_with_single_rows += !single_links.empty();
    }
    // The demo exercises every section.
    EXPECT_GT(pages_with_targets, 200u);
    EXPECT_GT(pages_with_team_rows, 10u);
    EXPECT_GT(pages_with_single_rows, 200u);
}

}  // namespace
