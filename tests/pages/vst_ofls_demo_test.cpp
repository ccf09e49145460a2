// vst.php for every club and ofls.php for every start-page letter of the 300-shooter demo
// competition, checked against the tables read independently through libmdb: which shooters
// appear, what each row says, and that rows follow the German dictionary order.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "common/cp1252.h"
#include "db/mdbread/mdb_read.h"
#include "server/dispatcher.h"
#include "tests/pages/page_fixture.h"
#include "tests/server/page_literals.h"
#include "tools/mkdemo/demo.h"

namespace {

namespace fs = std::filesystem;
namespace jet = ringolan::jet;
using namespace ringolan::test_pages;

// Letter case folded for Windows-1252 text: A-Z and the Latin-1 capitals (not ×).
std::string fold_case(std::string s) {
    for (char& ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) ch = static_cast<char>(c + 0x20);
    }
    return s;
}

// Sort key of German dictionary order with letter case ignored: the base letters first
// (umlauts and accented letters as their base, "ß" as "ss"), then which letters carry marks.
struct NameKey {
    std::string base;
    std::vector<int> marks;
    bool present = true;  // NULL (false) sorts before every text
    auto operator<=>(const NameKey&) const = default;
};

NameKey name_key(const std::string& cp1252, bool null = false) {
    static const std::map<unsigned char, char> kBase = {
        {0xE0, 'a'}, {0xE1, 'a'}, {0xE2, 'a'}, {0xE4, 'a'}, {0xE7, 'c'}, {0xE8, 'e'}, {0xE9, 'e'},
        {0xEA, 'e'}, {0xEB, 'e'}, {0xED, 'i'}, {0xEE, 'i'}, {0xEF, 'i'}, {0xF1, 'n'}, {0xF2, 'o'},
        {0xF3, 'o'}, {0xF4, 'o'}, {0xF6, 'o'}, {0xF9, 'u'}, {0xFA, 'u'}, {0xFB, 'u'}, {0xFC, 'u'}};
    NameKey k;
    k.present = !null;
    for (char ch : fold_case(cp1252)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0xDF) {
            k.base += "ss";
            k.marks.insert(k.marks.end(), {0, 0});
        } else if (const auto b = kBase.find(c); b != kBase.end()) {
            k.base += b->second;
            k.marks.push_back(1);
        } else {
            k.base += ch;
            k.marks.push_back(0);
        }
    }
    return k;
}

struct Shooter {
    std::string startnr, nachname, vorname, vereinsnr;  // Windows-1252
    bool vorname_null = false;
};

bool in_name_order(const Shooter& a, const Shooter& b) {
    const auto ka = std::make_pair(name_key(a.nachname), name_key(a.vorname, a.vorname_null));
    const auto kb = std::make_pair(name_key(b.nachname), name_key(b.vorname, b.vorname_null));
    return ka <= kb;
}

std::string text_of(const jet::Value& v) {
    return std::holds_alternative<std::string>(v) ? ringolan::text::utf8_to_cp1252(std::get<std::string>(v)) : "";
}

// Values of one column of a table read through libmdb.
std::vector<jet::Value> column(const ringolan::mdbread::TableData& t, const std::string& name) {
    for (size_t c = 0; c < t.columns.size(); ++c) {
        if (fold_case(t.columns[c].name) != fold_case(name)) continue;
        std::vector<jet::Value> out;
        for (const auto& row : t.rows) out.push_back(row[c]);
        return out;
    }
    throw std::out_of_range("no column " + name);
}

// The texts between `open` and `close` for each occurrence of `open`.
std::vector<std::string> between(const std::string& page, const std::string& open, const std::string& close) {
    std::vector<std::string> out;
    for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
        const size_t from = at + open.size();
        out.push_back(page.substr(from, page.find(close, from) - from));
    }
    return out;
}

class DemoNamePages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const fs::path file = test_dir() / "demo300_names.mdb";
        ringolan::demo::write_demo(ringolan::demo::DemoOptions{300, 1, true}, file);
        ctx_ = new ringolan::pages::PageContext;
        ctx_->snapshot = snapshot_of(file);

        const auto starter = ringolan::mdbread::read_table(file, "starter");
        const auto nr = column(starter, "Startnr"), sur = column(starter, "Nachname"),
                   first = column(starter, "Vorname"), club = column(starter, "Vereinsnr");
        shooters_ = new std::vector<Shooter>;
        for (size_t r = 0; r < nr.size(); ++r)
            shooters_->push_back({std::to_string(std::get<int64_t>(nr[r])), text_of(sur[r]), text_of(first[r]),
                                  text_of(club[r]), std::holds_alternative<jet::Null>(first[r])});
        const auto verein = ringolan::mdbread::read_table(file, "verein");
        const auto vnr = column(verein, "Vereinsnr"), vname = column(verein, "Name");
        clubs_ = new std::map<std::string, std::pair<std::string, std::string>>;
        for (size_t r = 0; r < vnr.size(); ++r) (*clubs_)[fold_case(text_of(vnr[r]))] = {text_of(vnr[r]), text_of(vname[r])};
    }
    static void TearDownTestSuite() {
        delete ctx_;
        delete shooters_;
        delete clubs_;
    }

    static std::string fragment(const std::string& path, const std::string& query) {
        const auto r = ringolan::server::DispatchPage(*ctx_, path, query);
        EXPECT_EQ(r.status, 200) << path << "?" << query;
        if (!r.body.starts_with(kHead) || !r.body.ends_with(kFoot)) {
            ADD_FAILURE() << "not framed: " << path << "?" << query;
            return {};
        }
        return r.body.substr(kHead.size(), r.body.size() - kHead.size() - kFoot.size());
    }

    static const Shooter& shooter(const std::string& startnr) {
        for (const Shooter& s : *shooters_)
            if (s.startnr == startnr) return s;
        throw std::out_of_range("no shooter " + startnr);
    }

    static ringolan::pages::PageContext* ctx_;
    static std::vector<Shooter>* shooters_;
    // folded club number -> (club number, name)
    static std::map<std::string, std::pair<std::string, std::string>>* clubs_;
};
ringolan::pages::PageContext* DemoNamePages::ctx_ = nullptr;
std::vector<Shooter>* DemoNamePages::shooters_ = nullptr;
std::map<std::string, std::pair<std::string, std::string>>* DemoNamePages::clubs_ = nullptr;

TEST_F(DemoNamePages, EveryClubListsItsShootersInNameOrder) {
    std::set<std::string> numbers;  // every club number of either table
    for (const auto& [folded, club] : *clubs_) numbers.insert(club.first);
    for (const Shooter& s : *shooters_) numbers.insert(s.vereinsnr);
    ASSERT_GE(clubs_->size(), 15u);

    size_t listed = 0, empty_clubs = 0;
    for (const std::string& nr : numbers) {
        SCOPED_TRACE("club " + nr);
        const std::string page = fragment("/vst.php", "NR=" + nr);
        const auto club = clubs_->find(fold_case(nr));
        const std::string name = club == clubs_->end() ? "" : club->second.second;
        EXPECT_TRUE(page.starts_with("     <a href='vstbl.php'>Meistbeteiligungsliste</a> |     <a href='mmerl.php?vnr=" +
                                     nr + "'>Mannschaften</a>    <hr>    <font size='5'>" + name +
                                     "</font> <hr><table border=\"0\">"));
        EXPECT_TRUE(page.ends_with("</table>"));

        std::multiset<std::string> expected;
        for (const Shooter& s : *shooters_)
            if (fold_case(s.vereinsnr) == fold_case(nr)) expected.insert(s.startnr);
        std::vector<std::string> starts, texts;
        for (const std::string& row : between(page, "<tr><td><a href=\"est.php?ST=", "</a></td></tr>\n")) {
            const size_t end = row.find("\">");
            ASSERT_NE(end, std::string::npos) << row;
            starts.push_back(row.substr(0, end));
            texts.push_back(row.substr(end + 2));
        }
        EXPECT_EQ(std::multiset<std::string>(starts.begin(), starts.end()), expected);
        EXPECT_EQ(page.find('\r'), std::string::npos);
        for (size_t i = 0; i < starts.size(); ++i) {
            const Shooter& s = shooter(starts[i]);
            EXPECT_EQ(texts[i], s.nachname + " " + s.vorname) << s.startnr;
            if (i > 0) {
                EXPECT_TRUE(in_name_order(shooter(starts[i - 1]), s)) << starts[i - 1] << " before " << s.startnr;
            }
        }
        listed += starts.size();
        empty_clubs += starts.empty() ? 1 : 0;
    }
    EXPECT_EQ(listed, shooters_->size());  // every shooter under their own club number
    EXPECT_GE(empty_clubs, 1u);             // the demo's last regular club has no shooters
}

TEST_F(DemoNamePages, EveryInitialListsTheMatchingShootersWithTheirClubs) {
    std::vector<std::string> initials = {"", "Sch", "M\xFC", "m\xFC", "Sch\xF6", "Wei\xDF", "Ma_er", "%er"};
    for (const char* row : {"A\xC4" "BCDEF", "GHIJKLM", "NO\xD6PQRS", "TUVWXYZ", "\xDC"})
        for (const char* c = row; *c; ++c) initials.emplace_back(1, *c);

    size_t with_rows = 0;
    for (const std::string& initial : initials) {
        SCOPED_TRACE("initial " + initial);
        const std::string page = fragment("/ofls.php", "B=" + initial);
        EXPECT_TRUE(page.starts_with("Namen mit dem Anfangsbuchstaben " + initial +
                                     "<table border=1><tr><th>Startnr</th><th>Name </th><th>Verein</th></tr>\r"));
        EXPECT_TRUE(page.ends_with("</table> "));

        // Surnames that begin with the initial (case ignored, "_" one character, "%" any run),
        // of shooters whose club exists.
        auto matches = [&](const std::string& surname) {
            const std::string s = fold_case(surname), p = fold_case(initial);
            if (p == "%er") return s.find("er") != std::string::npos;
            if (s.size() < p.size()) return false;
            for (size_t i = 0; i < p.size(); ++i)
                if (p[i] != '_' && p[i] != s[i]) return false;
            return true;
        };
        std::multiset<std::string> expected;
        for (const Shooter& s : *shooters_)
            if (clubs_->contains(fold_case(s.vereinsnr)) && matches(s.nachname)) expected.insert(s.startnr);

        const auto starts = between(page, "<tr><td><a href=\"est.php?ST=", "\">");
        EXPECT_EQ(std::multiset<std::string>(starts.begin(), starts.end()), expected);
        const auto rows = between(page, "<tr><td>", "</tr>\r");
        ASSERT_EQ(rows.size(), starts.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const Shooter& s = shooter(starts[i]);
            const auto& club = clubs_->at(fold_case(s.vereinsnr));
            EXPECT_EQ(rows[i], "<a href=\"est.php?ST=" + s.startnr + "\">" + s.startnr +
                                   "</a></td><td><a href=\"est.php?ST=" + s.startnr + "\">" + s.nachname + ", " +
                                   s.vorname + "</a></td><td><a href=\"vst.php?NR=" + club.first + "\">" + club.second +
                                   "</a></td>");
            if (i > 0) {
                EXPECT_TRUE(in_name_order(shooter(starts[i - 1]), s)) << starts[i - 1] << " before " << s.startnr;
            }
        }
        EXPECT_EQ(page.find('\n'), std::string::npos);
        with_rows += rows.empty() ? 0 : 1;
    }
    EXPECT_GE(with_rows, 20u);
}

}  // namespace
