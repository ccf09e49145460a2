// sb.php for every target and erl.php for every list of the 300-shooter demo competition,
// checked against the tables read independently through libmdb.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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
    int64_t integer(size_t row, const std::string& column) const {
        const auto& v = at(row, column);
        return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : 0;
    }
    // Windows-1252; NULL as "".
    std::string text(size_t row, const std::string& column) const {
        const auto& v = at(row, column);
        return std::holds_alternative<std::string>(v) ? ringolan::text::utf8_to_cp1252(std::get<std::string>(v)) : "";
    }

private:
    ringolan::mdbread::TableData data_;
};

size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

class DemoPages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        file_ = new fs::path(test_dir() / "demo300.mdb");
        ringolan::demo::write_demo(ringolan::demo::DemoOptions{300, 1, true}, *file_);
        ctx_ = new ringolan::pages::PageContext;
        ctx_->snapshot = snapshot_of(*file_);
    }
    static void TearDownTestSuite() {
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

    // Club names by lower-cased club number (text joins ignore letter case).
    static std::map<std::string, std::string> clubs() {
        Table verein(*file_, "verein");
        std::map<std::string, std::string> out;
        for (size_t r = 0; r < verein.rows(); ++r) out[lower(verein.text(r, "Vereinsnr"))] = verein.text(r, "Name");
        return out;
    }

    static fs::path* file_;
    static ringolan::pages::PageContext* ctx_;
};
fs::path* DemoPages::file_ = nullptr;
ringolan::pages::PageContext* DemoPages::ctx_ = nullptr;

TEST_F(DemoPages, EveryResultListShowsItsRankedShootersInRankOrder) {
    Table lists(*file_, "wettb_def"), raenge(*file_, "raenge"), starter(*file_, "starter");
    const auto club_names = clubs();
    std::map<int64_t, std::string> club_of;
    for (size_t r = 0; r < starter.rows(); ++r) club_of[starter.integer(r, "Startnr")] = lower(starter.text(r, "Vereinsnr"));

    ASSERT_GE(lists.rows(), 6u);
    size_t non_empty = 0;
    for (size_t l = 0; l < lists.rows(); ++l) {
        const int64_t id = lists.integer(l, "ID");
        // (rank, start number) of the rows whose shooter and club exist.
        std::vector<std::pair<int64_t, int64_t>> expected;
        for (size_t r = 0; r < raenge.rows(); ++r) {
            if (raenge.integer(r, "ErglistID") != id) continue;
            const int64_t nr = raenge.integer(r, "Startnr");
            const auto club = club_of.find(nr);
            if (club == club_of.end() || !club_names.contains(club->second)) continue;
            expected.emplace_back(raenge.integer(r, "Rang"), nr);
        }
        const std::string page = fragment("/erl.php", "startnr=0&titel=" + std::to_string(id) + "&Rang=0");
        SCOPED_TRACE("list " + std::to_string(id));
        EXPECT_TRUE(page.starts_with("<font size=\"5\">" + lists.text(l, "Titel") + "</font><hr>"));
        EXPECT_TRUE(page.ends_with("</table>"));
        EXPECT_EQ(count_of(page, "bgcolor"), 0u);

        std::vector<std::pair<int64_t, int64_t>> shown;
        const std::string open = "<tr><td>", mid = "</td><td><font size=2>";
        for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
            const size_t rank_end = page.find(mid, at);
            const size_t nr_end = page.find("</font>", rank_end);
            ASSERT_NE(nr_end, std::string::npos);
            const std::string rank = page.substr(at + open.size(), rank_end - at - open.size());
            const std::string nr = page.substr(rank_end + mid.size(), nr_end - rank_end - mid.size());
            shown.emplace_back(std::stoll(rank), std::stoll(nr));
        }
        EXPECT_EQ(count_of(page, " </tr>\r"), expected.size());
        EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end(),
                                   [](const auto& a, const auto& b) { return a.first < b.first; }));
        std::sort(shown.begin(), shown.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(shown, expected);
        non_empty += expected.empty() ? 0 : 1;
    }
    EXPECT_GE(non_empty, 6u);

    // Highlighting one shooter marks their row, and only theirs.
    ASSERT_GT(raenge.rows(), 0u);
    const int64_t id = raenge.integer(0, "ErglistID"), nr = raenge.integer(0, "Startnr");
    size_t rows_of_nr = 0;
    for (size_t r = 0; r < raenge.rows(); ++r)
        rows_of_nr += raenge.integer(r, "ErglistID") == id && raenge.integer(r, "Startnr") == nr ? 1 : 0;
    const std::string page =
        fragment("/erl.php", "startnr=" + std::to_string(nr) + "&titel=" + std::to_string(id) + "&Rang=1");
    EXPECT_EQ(count_of(page, "<tr><td bgcolor=\"#FFFFFF\">"), rows_of_nr);
    EXPECT_EQ(count_of(page, "<font size=2>" + std::to_string(nr) + "</font>"), rows_of_nr);
}

TEST_F(DemoPages, EveryTargetShowsAMarkerPerHitOnTheFaceOfItsDiscipline) {
    Table scheiben(*file_, "scheiben"), zuordnung(*file_, "zuordnung"), ergebnis(*file_, "ergebnis"),
        wettk(*file_, "wettk"), starter(*file_, "starter");
    const auto club_names = clubs();
    std::map<int64_t, std::pair<int64_t, int64_t>> result_of;  // Erg_id -> (Startnr, DP_Id)
    for (size_t r = 0; r < ergebnis.rows(); ++r)
        result_of[ergebnis.integer(r, "Erg_id")] = {ergebnis.integer(r, "Startnr"), ergebnis.integer(r, "DP_Id")};
    std::map<int64_t, int64_t> result_of_target;
    for (size_t r = 0; r < zuordnung.rows(); ++r)
        result_of_target[zuordnung.integer(r, "Scheiben_id")] = zuordnung.integer(r, "Erg_id");
    std::map<int64_t, std::string> type_of;
    for (size_t r = 0; r < wettk.rows(); ++r) type_of[wettk.integer(r, "DP_ID")] = wettk.text(r, "Scheibentyp");
    std::map<int64_t, std::string> head_of;
    for (size_t r = 0; r < starter.rows(); ++r) {
        const auto club = club_names.find(lower(starter.text(r, "Vereinsnr")));
        if (club == club_names.end()) continue;
        head_of[starter.integer(r, "Startnr")] = "<font size=\"5\">" + starter.text(r, "Nachname") + ", " +
                                                  starter.text(r, "Vorname") + "<br></font> <a href=\"vst.php?NR=" +
                                                  starter.text(r, "Vereinsnr") + "\">" + club->second + "<br></a><hr>\r";
    }

    ASSERT_GT(scheiben.rows(), 300u);
    size_t pistol = 0, with_mean = 0, empty = 0;
    for (size_t r = 0; r < scheiben.rows(); ++r) {
        const int64_t sid = scheiben.integer(r, "Sch_id");
        size_t hits = 0;
        for (int i = 1; i <= 15; ++i) hits += scheiben.integer(r, "t" + std::to_string(i)) > 0 ? 1 : 0;
        const auto result = result_of.find(result_of_target.count(sid) ? result_of_target[sid] : -1);
        const int64_t st = result == result_of.end() ? 0 : result->second.first;
        const int64_t bz = result == result_of.end() ? 0 : result->second.second;
        const std::string page = fragment(
            "/sb.php", "ST=" + std::to_string(st) + "&sb=LG1&bz=" + std::to_string(bz) + "&sid=" + std::to_string(sid));
        SCOPED_TRACE("target " + std::to_string(sid));

        const auto head = head_of.find(st);
        EXPECT_TRUE(page.starts_with(head == head_of.end() ? std::string("<font size=\"5\">, <br>") : head->second));
        const bool lp = type_of[bz] == "Luftpistole";
        EXPECT_EQ(count_of(page, lp ? "src=\"LPScheibeklein.png\"" : "src=\"scheibe_lgv.gif\""), 1u);
        EXPECT_EQ(count_of(page, lp ? "src=\"Index5lp.gif\"" : "src=\"index.5.gif\""), hits);
        EXPECT_EQ(count_of(page, "<span style=\"position: absolute; left: "), hits);
        EXPECT_EQ(count_of(page, "src=\"Kreuz.gif\""), hits >= 2 ? 1u : 0u);
        EXPECT_EQ(count_of(page, "\r"), 2 + hits + (hits >= 2 ? 1 : 0));
        pistol += lp ? 1 : 0;
        with_mean += hits >= 2 ? 1 : 0;
        empty += hits == 0 ? 1 : 0;
    }
    // The demo has both faces, groups and empty cards.
    EXPECT_GT(pistol, 0u);
    EXPECT_GT(with_mean, 0u);
    EXPECT_GT(empty, 0u);
}

}  // namespace
