// Later rounds of the demo: the same keys (so every address stays valid), other results, and the
// round's marker in the shown texts, found by the soak client's marker scanner.
#include <algorithm>
#include <map>
#include <set>

#include "bench/soak_marker.h"
#include "tests/tools/mkdemo/demo_access.h"

using namespace demo_test;
using ringolan::soak::find_rounds;

namespace {

DemoOptions round_options(uint32_t round) {
    DemoOptions o;
    o.shooters = 400;
    o.seed = 5;
    o.round = round;
    return o;
}

// Every key column an address or a join uses, as a sorted list of rows, per table.
std::map<std::string, std::vector<std::string>> keys(const Db& db) {
    const std::map<std::string, std::vector<std::string>> columns{
        {"starter", {"Startnr", "Vereinsnr", "Klasse"}},
        {"verein", {"Vereinsnr"}},
        {"ergebnis", {"Erg_id", "Startnr", "DP_Id"}},
        {"zuordnung", {"Erg_id", "Scheiben_id", "pos"}},
        {"scheiben", {"Sch_id"}},
        {"wettk", {"DP_ID"}},
        {"wettb_def", {"ID", "mannschaft", "selekt"}},
        {"raenge", {"ErglistID", "Startnr", "MID"}},
        {"mannschaft", {"Mann_id", "Wettb_id", "vereinsnr"}},
        {"mann_teiln", {"Mann_id", "Startnr", "Reihenfolge"}},
    };
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& [table, cols] : columns) {
        auto& rows = out[table];
        for (const auto& r : db.rows(table)) {
            std::string key;
            for (const auto& c : cols) {
                const auto& v = r[db.col(table, c)];
                if (is_null(v)) key += "NULL";
                else if (const auto* s = std::get_if<std::string>(&v)) key += *s;
                else if (const auto* b = std::get_if<bool>(&v)) key += *b ? "true" : "false";
                else key += std::to_string(as_int(v));
                key += '|';
            }
            rows.push_back(key);
        }
        std::sort(rows.begin(), rows.end());
    }
    return out;
}

std::vector<std::string> texts(const Db& db, const std::string& table, const std::string& column) {
    std::vector<std::string> out;
    for (const auto& r : db.rows(table)) out.push_back(as_text(r[db.col(table, column)]));
    return out;
}

std::string event_name(const Db& db) {
    for (const auto& r : db.rows("Veranstaltung"))
        if (as_text(r[db.col("Veranstaltung", "Option")]) == "Bezeichnung")
            return as_text(r[db.col("Veranstaltung", "Wert_str")]);
    return {};
}

// Rang of every (list, Startnr) pair.
std::map<std::pair<int64_t, int64_t>, int64_t> ranks(const Db& db) {
    std::map<std::pair<int64_t, int64_t>, int64_t> out;
    for (const auto& r : db.rows("raenge"))
        out[{as_int(r[db.col("raenge", "ErglistID")]), as_int(r[db.col("raenge", "Startnr")])}] =
            as_int(r[db.col("raenge", "Rang")]);
    return out;
}

}  // namespace

TEST(DemoRound, EveryRoundHasTheSameKeysAndRowCounts) {
    const Db plain(round_options(0)), first(round_options(1)), later(round_options(37));
    const auto k0 = keys(plain);
    EXPECT_EQ(k0, keys(first));
    EXPECT_EQ(k0, keys(later));
    for (const auto& t : plain.tables()) {
        EXPECT_EQ(t.rows.size(), first.rows(t.name).size()) << t.name;
        EXPECT_EQ(t.rows.size(), later.rows(t.name).size()) << t.name;
    }
    // Shot counts per card stay: only where the shots landed changes.
    auto shots = [](const Db& db) {
        std::vector<int> n;
        for (const auto& r : db.rows("scheiben")) {
            int c = 0;
            for (int i = 1; i <= 15; ++i) c += !is_null(r[db.col("scheiben", "t" + std::to_string(i))]) &&
                                              as_int(r[db.col("scheiben", "t" + std::to_string(i))]) > 0;
            n.push_back(c);
        }
        return n;
    };
    EXPECT_EQ(shots(plain), shots(later));
}

TEST(DemoRound, RoundsChangeShotsAndRanks) {
    const Db a(round_options(1)), b(round_options(2)), plain(round_options(0));
    const size_t sum = a.col("scheiben", "summe");
    size_t cards = 0, changed = 0, changed_from_plain = 0;
    for (size_t i = 0; i < a.rows("scheiben").size(); ++i) {
        const double x = as_double(a.rows("scheiben")[i][sum]);
        if (x == 0) continue;
        ++cards;
        changed += x != as_double(b.rows("scheiben")[i][sum]);
        changed_from_plain += x != as_double(plain.rows("scheiben")[i][sum]);
        // Still a card of this discipline: the same card sum range as any demo card.
        EXPECT_LE(x, 15 * 10.9);
    }
    ASSERT_GT(cards, 300u);
    EXPECT_GT(changed, cards / 2) << "most card sums differ between two rounds";
    EXPECT_GT(changed_from_plain, cards / 2);

    const auto ra = ranks(a), rb = ranks(b);
    ASSERT_EQ(ra.size(), rb.size());
    size_t moved = 0;
    for (const auto& [key, rang] : ra) moved += rb.at(key) != rang;
    EXPECT_GT(moved, ra.size() / 4) << "ranks follow the new results";
}

TEST(DemoRound, MarkerIsInEveryShownNameAndNowhereInRoundZero) {
    const Db marked(round_options(17)), plain(round_options(0));
    for (const auto& [table, column] : std::vector<std::pair<std::string, std::string>>{
             {"verein", "Name"}, {"wettb_def", "Titel"}, {"wettk", "Bezeichnung"}, {"mannschaft", "Name"}}) {
        const auto with = texts(marked, table, column), without = texts(plain, table, column);
        ASSERT_FALSE(with.empty()) << table;
        ASSERT_EQ(with.size(), without.size());
        for (size_t i = 0; i < with.size(); ++i) {
            EXPECT_EQ(with[i], without[i] + " ~R17~") << table << "." << column;
            EXPECT_EQ(find_rounds(with[i]), std::set<uint32_t>{17});
        }
    }
    EXPECT_EQ(event_name(marked), event_name(plain) + " ~R17~");
    // Shooters' names carry no marker: a surname search stays as in round 0.
    EXPECT_EQ(texts(marked, "starter", "Nachname"), texts(plain, "starter", "Nachname"));

    for (const auto& t : plain.tables())
        for (const auto& r : t.rows)
            for (const auto& v : r)
                if (const auto* s = std::get_if<std::string>(&v)) {
                    EXPECT_TRUE(find_rounds(*s).empty()) << t.name << ": " << *s;
                }
}

TEST(DemoRound, MarkedNamesStillFitTheirColumns) {
    // The largest round and the longest names: wettk.Bezeichnung holds 50 characters,
    // verein.Name and mannschaft.Name 80, wettb_def.Titel 100.
    DemoOptions o = round_options(999999999);
    o.shooters = 4000;  // 200 clubs: every name pattern, the long towns
    const Db db(o);
    for (const auto& [table, column, size] : std::vector<std::tuple<std::string, std::string, size_t>>{
             {"wettk", "Bezeichnung", 50}, {"verein", "Name", 80}, {"mannschaft", "Name", 80}, {"wettb_def", "Titel", 100}})
        for (const auto& s : texts(db, table, column)) EXPECT_LE(utf8_length(s), size) << table << ": " << s;
}
