// erlsel.php, merl.php for every team list and mmerl.php for every club of the 300-shooter
// demo competition, checked against the tables read independently through libmdb.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "common/cp1252.h"
#include "db/mdbread/mdb_read.h"
#include "server/dispatcher.h"
#include "tests/pages/page_fixture.h"
#include "tests/server/page_literals.h"
#include "tools/mkdemo/demo.h"

namespace fs = std::filesystem;
using namespace ringolan::test_pages;
using ringolan::server::DispatchPage;
namespace jet = ringolan::jet;

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// A table read through libmdb, cells by column name.
class Table {
public:
    Table(const fs::path& file, const std::string& name) : data_(ringolan::mdbread::read_table(file, name)) {}
    size_t rows() const { return data_.rows.size(); }
    const jet::Value& at(size_t row, const std::string& column) const {
        for (size_t c = 0; c < data_.columns.size(); ++c)
            if (lower(data_.columns[c].name) == lower(column)) return data_.rows[row][c];
        throw std::out_of_range("no column " + column);
    }
    bool is_null(size_t row, const std::string& column) const { return std::holds_alternative<jet::Null>(at(row, column)); }
    int64_t integer(size_t row, const std::string& column) const {
        const auto& v = at(row, column);
        return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : 0;
    }
    bool yes(size_t row, const std::string& column) const {
        const auto& v = at(row, column);
        return std::holds_alternative<bool>(v) && std::get<bool>(v);
    }
    std::string text(size_t row, const std::string& column) const {
        const auto& v = at(row, column);
        return std::holds_alternative<std::string>(v) ? ringolan::text::utf8_to_cp1252(std::get<std::string>(v)) : "";
    }

private:
    ringolan::mdbread::TableData data_;
};

// One shown member row: the team rank it belongs to and the start number.
struct MemberRow {
    int64_t team_rank;
    int64_t startnr;
};

// Members as the team statements join them: each team member with a starter row and a rank
// row in the team's list, once per such pair of rows.
class Teams {
public:
    explicit Teams(const fs::path& file) {
        Table mannschaft(file, "mannschaft"), teiln(file, "mann_teiln"), starter(file, "starter"),
            raenge(file, "raenge"), options(file, "wettb_opt_def");
        for (size_t r = 0; r < starter.rows(); ++r) ++starters_[starter.integer(r, "Startnr")];
        for (size_t r = 0; r < raenge.rows(); ++r)
            ++ranked_[{raenge.integer(r, "ErglistID"), raenge.integer(r, "Startnr")}];
        std::multimap<int64_t, int64_t> members;  // Mann_id -> Startnr
        for (size_t r = 0; r < teiln.rows(); ++r) members.emplace(teiln.integer(r, "Mann_id"), teiln.integer(r, "Startnr"));
        for (size_t r = 0; r < mannschaft.rows(); ++r) {
            Team t{mannschaft.integer(r, "Wettb_id"), lower(mannschaft.text(r, "vereinsnr")),
                   mannschaft.integer(r, "MRang"), {}};
            const auto [from, to] = members.equal_range(mannschaft.integer(r, "Mann_id"));
            for (auto m = from; m != to; ++m) {
                const size_t times = count(starters_, m->second) * count(ranked_, {t.list, m->second});
                for (size_t i = 0; i < times; ++i) t.rows.push_back({t.rank, m->second});
            }
            teams_.push_back(std::move(t));
        }
        for (size_t r = 0; r < options.rows(); ++r)
            if (options.text(r, "Option") == "MANNMODE") counting_[options.integer(r, "Erglist_id")] = options.integer(r, "Wert_In");
    }

    // The member rows of a list's teams (of one club when `club` is given), by team rank.
    std::vector<MemberRow> rows(int64_t list, const std::string* club = nullptr) const {
        std::vector<MemberRow> out;
        for (const Team& t : teams_) {
            if (t.list != list || (club && t.club != lower(*club))) continue;
            out.insert(out.end(), t.rows.begin(), t.rows.end());
        }
        std::stable_sort(out.begin(), out.end(), [](const MemberRow& a, const MemberRow& b) { return a.team_rank < b.team_rank; });
        return out;
    }
    // Lists in which the club has a team.
    std::set<int64_t> lists_of(const std::string& club) const {
        std::set<int64_t> out;
        for (const Team& t : teams_)
            if (t.club == lower(club)) out.insert(t.list);
        return out;
    }
    bool has_counting(int64_t list) const { return counting_.contains(list); }
    int64_t counting(int64_t list) const { return has_counting(list) ? counting_.at(list) : 0; }

private:
    struct Team {
        int64_t list;
        std::string club;
        int64_t rank;
        std::vector<MemberRow> rows;
    };
    template <class K> static size_t count(const std::map<K, size_t>& m, const K& k) {
        const auto it = m.find(k);
        return it == m.end() ? 0 : it->second;
    }
    std::map<int64_t, size_t> starters_;
    std::map<std::pair<int64_t, int64_t>, size_t> ranked_;
    std::vector<Team> teams_;
    std::map<int64_t, int64_t> counting_;
};

// Members beyond the counting number in each run of equal team ranks.
size_t grey_rows(const std::vector<MemberRow>& rows, int64_t counting) {
    size_t grey = 0;
    int64_t n = 0, previous = 0;
    for (const MemberRow& r : rows) {
        if (r.team_rank != previous) n = 0, previous = r.team_rank;
        if (++n > counting) ++grey;
    }
    return grey;
}

// Team headers: one per run of equal ranks, none for a leading run of rank 0.
size_t headers(const std::vector<MemberRow>& rows) {
    size_t n = 0;
    int64_t previous = 0;
    for (const MemberRow& r : rows)
        if (r.team_rank != previous) ++n, previous = r.team_rank;
    return n;
}

// The start numbers of the member rows, in page order.
std::vector<int64_t> shown_members(const std::string& page, const std::string& row_start) {
    std::vector<int64_t> out;
    for (size_t at = page.find(row_start); at != std::string::npos; at = page.find(row_start, at + 1)) {
        const std::string link = "<a href=\"est.php?ST=";
        const size_t nr = page.find(link, at) + link.size();
        out.push_back(std::stoll(page.substr(nr, page.find('"', nr) - nr)));
    }
    return out;
}

std::vector<int64_t> sorted_numbers(const std::vector<MemberRow>& rows) {
    std::vector<int64_t> out;
    for (const MemberRow& r : rows) out.push_back(r.startnr);
    std::sort(out.begin(), out.end());
    return out;
}

class DemoTeamPages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        file_ = new fs::path(test_dir() / "demo300_teams.mdb");
        ringolan::demo::write_demo(ringolan::demo::DemoOptions{300, 1, true}, *file_);
        ctx_ = new ringolan::pages::PageContext;
        ctx_->snapshot = snapshot_of(*file_);
        teams_ = new Teams(*file_);
    }
    static void TearDownTestSuite() {
        delete teams_;
        delete ctx_;
        delete file_;
    }

    static std::string fragment(const std::string& path, const std::string& query) {
        const auto r = DispatchPage(*ctx_, path, query);
        EXPECT_EQ(r.status, 200) << path << "?" << query;
        if (!r.body.starts_with(kHead) || !r.body.ends_with(kFoot)) {
            ADD_FAILURE() << "not framed: " << path << "?" << query;
            return {};
        }
        return r.body.substr(kHead.size(), r.body.size() - kHead.size() - kFoot.size());
    }

    static fs::path* file_;
    static ringolan::pages::PageContext* ctx_;
    static Teams* teams_;
};
fs::path* DemoTeamPages::file_ = nullptr;
ringolan::pages::PageContext* DemoTeamPages::ctx_ = nullptr;
Teams* DemoTeamPages::teams_ = nullptr;

const std::string kGrey = "<font size=\"2\" color=\"#c0c0c0\">";

TEST_F(DemoTeamPages, SelectionPageListsEveryShownListOnce) {
    Table lists(*file_, "wettb_def");
    std::set<std::pair<std::string, std::string>> team, single;  // (id, title)
    for (size_t l = 0; l < lists.rows(); ++l) {
        if (!lists.is_null(l, "selekt") && lists.integer(l, "selekt") == 1) continue;
        (lists.yes(l, "mannschaft") ? team : single).insert({std::to_string(lists.integer(l, "ID")), lists.text(l, "Titel")});
    }
    ASSERT_FALSE(team.empty());
    ASSERT_FALSE(single.empty());

    const std::string page = fragment("/erlsel.php", "");
    const std::string split = "<br><hr><Font size=\"5\">Einzelk\xE4mpfe:</font><br>";
    ASSERT_TRUE(page.starts_with("<Font size=\"5\"> Mannschaftsk\xE4mpfe:</font><br>"));
    ASSERT_EQ(count_of(page, split), 1u);
    auto links = [](const std::string& part, const std::string& target) {
        std::vector<std::pair<std::string, std::string>> out;
        const std::string open = "<a href=\"" + target + "?startnr=0&titel=";
        for (size_t at = part.find(open); at != std::string::npos; at = part.find(open, at + 1)) {
            const size_t id = at + open.size(), id_end = part.find("&Rang=0\">", id);
            const size_t title = id_end + 9, title_end = part.find("</a><br>\r", title);
            out.emplace_back(part.substr(id, id_end - id), part.substr(title, title_end - title));
        }
        return out;
    };
    const size_t at = page.find(split);
    const auto team_links = links(page.substr(0, at), "merl.php");
    const auto single_links = links(page.substr(at), "erl.php");
    EXPECT_EQ(team_links.size(), team.size());
    EXPECT_EQ(single_links.size(), single.size());
    EXPECT_EQ(std::set(team_links.begin(), team_links.end()), team);
    EXPECT_EQ(std::set(single_links.begin(), single_links.end()), single);
    EXPECT_EQ(count_of(page, "<a href="), team.size() + single.size());
    // Titles in ascending order, compared without letter case where they are plain ASCII.
    for (const auto* part : {&team_links, &single_links}) {
        std::vector<std::string> ascii;
        for (const auto& [id, title] : *part)
            if (std::all_of(title.begin(), title.end(), [](char c) { return c >= ' ' && c <= '~'; })) ascii.push_back(lower(title));
        EXPECT_TRUE(std::is_sorted(ascii.begin(), ascii.end()));
    }
}

TEST_F(DemoTeamPages, EveryTeamListShowsItsJoinedMembersByTeamRank) {
    Table lists(*file_, "wettb_def");
    size_t shown_lists = 0, all_grey = 0;
    for (size_t l = 0; l < lists.rows(); ++l) {
        if (!lists.yes(l, "mannschaft")) continue;
        const int64_t id = lists.integer(l, "ID");
        SCOPED_TRACE("list " + std::to_string(id));
        const std::vector<MemberRow> expected = teams_->rows(id);
        const int64_t counting = teams_->counting(id);
        const std::string page = fragment("/merl.php", "startnr=0&titel=" + std::to_string(id) + "&Rang=0");

        EXPECT_TRUE(page.starts_with("<Font size=\"5\">" + (teams_->has_counting(id) ? lists.text(l, "Titel") : "") +
                                     "</font>    (" + std::to_string(counting) + " Starter je Mannschaft)<br>"));
        EXPECT_TRUE(page.ends_with("</table>"));
        const std::string row_start = "<tr><td width=\"100\">  ";
        const std::vector<int64_t> shown = shown_members(page, row_start);
        std::vector<int64_t> sorted_shown = shown;
        std::sort(sorted_shown.begin(), sorted_shown.end());
        EXPECT_EQ(sorted_shown, sorted_numbers(expected));
        EXPECT_EQ(count_of(page, kGrey), 3 * grey_rows(expected, counting));
        EXPECT_EQ(count_of(page, "<tr> <td><b>") + count_of(page, "<tr><td bgcolor=\"#FFFF99\"><b>"), headers(expected));
        EXPECT_EQ(count_of(page, "bgcolor"), count_of(page, "<tr><td bgcolor=\"#FFFF99\"><b>") * 3);

        // The page's team ranks, read from the headers, never fall.
        std::vector<int64_t> ranks;
        for (size_t at = page.find("<tr> <td><b>"); at != std::string::npos; at = page.find("<tr> <td><b>", at + 1)) {
            const std::string anchor = "<a name=\"Marke\"></a>";
            size_t from = at + 12;
            if (page.compare(from, anchor.size(), anchor) == 0) from += anchor.size();
            ranks.push_back(std::stoll(page.substr(from, page.find('<', from) - from)));
        }
        EXPECT_TRUE(std::is_sorted(ranks.begin(), ranks.end()));

        // Highlighting the first member marks their three cells in each of their rows.
        if (!shown.empty()) {
            const int64_t nr = shown.front();
            const size_t times = std::count(shown.begin(), shown.end(), nr);
            const std::string marked =
                fragment("/merl.php", "startnr=" + std::to_string(nr) + "&titel=" + std::to_string(id) + "&Rang=1");
            EXPECT_EQ(count_of(marked, "<tr><td width=\"100\"bgcolor=\"#FFFF99\">  "), times);
            EXPECT_EQ(count_of(marked, "\"#FFFF99\""), 3 * times + count_of(page, "\"#FFFF99\""));
        }
        shown_lists += expected.empty() ? 0 : 1;
        all_grey += grey_rows(expected, counting);
    }
    EXPECT_GE(shown_lists, 2u);
    EXPECT_GT(all_grey, 0u);  // the demo's teams have reserves beyond the counting number
}

TEST_F(DemoTeamPages, EveryClubShowsItsShownTeamCompetitionsInIdOrder) {
    Table verein(*file_, "verein"), lists(*file_, "wettb_def");
    std::map<int64_t, std::pair<std::string, bool>> list_info;  // ID -> (title, hidden)
    for (size_t l = 0; l < lists.rows(); ++l)
        list_info[lists.integer(l, "ID")] = {lists.text(l, "Titel"),
                                             !lists.is_null(l, "selekt") && lists.integer(l, "selekt") == 1};
    const std::string section = "<br><br><Font size=\"5\">";
    const std::string row_start = "<tr><td width=\"100\" align=\"center\">  ";
    size_t clubs_with_teams = 0;
    for (size_t c = 0; c < verein.rows(); ++c) {
        const std::string nr = verein.text(c, "Vereinsnr");
        SCOPED_TRACE("club " + nr);
        std::vector<int64_t> expected;
        for (int64_t id : teams_->lists_of(nr))
            if (list_info.contains(id) && !list_info[id].second) expected.push_back(id);

        const std::string page = fragment("/mmerl.php", "vnr=" + nr);
        EXPECT_TRUE(page.starts_with("<a href=\"vstbl.php\">Meistbeteiligungsliste</a> | <a href=\"vst.php?NR=$vnr\">"
                                     "Starterliste</a><hr><Font size=\"5\"><b><u>" +
                                     verein.text(c, "Name") + "</u></b></font><br>\r"));
        EXPECT_TRUE(page.ends_with("</table>"));
        ASSERT_EQ(count_of(page, section), expected.size());
        EXPECT_EQ(count_of(page, "</table></table>"), expected.size());

        // Section by section: title, members and grey rows of the club's teams only.
        size_t at = page.find(section);
        for (int64_t id : expected) {
            const size_t end = page.find(section, at + 1);
            const std::string part = page.substr(at, end == std::string::npos ? std::string::npos : end - at);
            EXPECT_TRUE(part.starts_with(section + list_info[id].first + " </font><br> <table border=0 width=400>"));
            const std::vector<MemberRow> rows = teams_->rows(id, &nr);
            std::vector<int64_t> shown = shown_members(part, row_start);
            std::sort(shown.begin(), shown.end());
            EXPECT_EQ(shown, sorted_numbers(rows)) << "list " << id;
            EXPECT_EQ(count_of(part, kGrey), 3 * grey_rows(rows, teams_->counting(id))) << "list " << id;
            EXPECT_EQ(count_of(part, "<tr> <td><b>"), headers(rows)) << "list " << id;
            at = end;
        }
        EXPECT_EQ(count_of(page, "bgcolor"), 0u);

        // One competition by its number: the same section alone.
        if (!expected.empty()) {
            ++clubs_with_teams;
            const std::string one = fragment("/mmerl.php", "vnr=" + nr + "&wettbid=" + std::to_string(expected.back()));
            const size_t last = page.rfind(section);
            EXPECT_EQ(one, page.substr(0, page.find(section)) + page.substr(last));
        }
    }
    EXPECT_GE(clubs_with_teams, 2u);
}

}  // namespace
