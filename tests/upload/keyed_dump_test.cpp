// Live publishing reads ranks and targets by key: the changes of the file joined over several
// states, and the lines made from the acknowledged ones and the rows of the changed keys, which
// must equal a whole dump of the state through a simulated competition.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/snapshot/reader_service.h"
#include "db/snapshot/snapshot_build.h"
#include "tests/db/snapshot/snapshot_test_util.h"
#include "tools/mkdemo/demo.h"
#include "tools/mkdemo/live.h"
#include "upload/change_chain.h"
#include "upload/live_dump.h"

namespace ringolan::upload {
namespace {

using namespace std::chrono_literals;
using Keys = std::map<std::string, std::vector<int64_t>>;  // "table.column" -> keys

db::SnapshotInfo state(uint64_t generation, uint64_t base, std::vector<std::string> tables, const Keys& keys) {
    db::SnapshotInfo info;
    info.generation = generation;
    info.base_generation = base;
    info.changed_tables = std::move(tables);
    for (const auto& [name, values] : keys) {
        const std::size_t dot = name.find('.');
        info.changed_keys.push_back({name.substr(0, dot), name.substr(dot + 1), values});
    }
    return info;
}

Keys keys_of(const FileChanges& c) {
    Keys out;
    for (const db::TableKeys& k : c.keys) out[k.table + "." + k.column] = k.values;
    return out;
}

std::vector<int64_t> numbers(int64_t from, int64_t count) {
    std::vector<int64_t> out;
    for (int64_t i = 0; i < count; ++i) out.push_back(from + i);
    return out;
}

TEST(ChangeChain, JoinsTheChangesOfTheStatesBetweenTwo) {
    struct Case {
        const char* what;
        std::vector<db::SnapshotInfo> noted;
        uint64_t from, to;
        bool known;
        std::vector<std::string> tables;
        Keys keys;
    } const cases[] = {
        {"one state", {state(2, 1, {"raenge"}, {{"raenge.Startnr", {1, 5}}, {"raenge.ErglistID", {3}}})}, 1, 2, true,
         {"raenge"}, {{"raenge.Startnr", {1, 5}}, {"raenge.ErglistID", {3}}}},
        {"two states: keys joined, a column one of them does not tell is given up",
         {state(2, 1, {"raenge"}, {{"raenge.Startnr", {1, 5}}, {"raenge.ErglistID", {3}}}),
          state(3, 2, {"raenge", "scheiben"}, {{"raenge.Startnr", {2, 5}}, {"scheiben.Sch_id", {7}}})},
         1, 3, true, {"raenge", "scheiben"}, {{"raenge.Startnr", {1, 2, 5}}, {"scheiben.Sch_id", {7}}}},
        {"a table without keys", {state(2, 1, {"verein"}, {})}, 1, 2, true, {"verein"}, {}},
        {"nothing since", {state(2, 1, {"raenge"}, {})}, 2, 2, true, {}, {}},
        {"a whole read between", {state(2, 1, {"raenge"}, {}), state(3, 0, {}, {})}, 1, 3, false, {}, {}},
        {"a state not noted", {state(2, 1, {"raenge"}, {}), state(4, 3, {"raenge"}, {})}, 1, 4, false, {}, {}},
        {"no state acknowledged", {state(2, 1, {"raenge"}, {})}, 0, 2, false, {}, {}},
        {"too many keys joined",
         {state(2, 1, {"scheiben"}, {{"scheiben.Sch_id", numbers(0, 4096)}}),
          state(3, 2, {"scheiben"}, {{"scheiben.Sch_id", numbers(4096, 4096)}}),
          state(4, 3, {"scheiben"}, {{"scheiben.Sch_id", numbers(8192, 4096)}}),
          state(5, 4, {"scheiben"}, {{"scheiben.Sch_id", numbers(12288, 4096)}}),
          state(6, 5, {"scheiben"}, {{"scheiben.Sch_id", {20000}}})},
         1, 6, true, {"scheiben"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChangeChain chain;
        for (const db::SnapshotInfo& info : c.noted) chain.note(info);
        const std::optional<FileChanges> got = chain.between(c.from, c.to);
        ASSERT_EQ(got.has_value(), c.known);
        if (!got) continue;
        EXPECT_EQ(got->tables, c.tables);
        EXPECT_EQ(keys_of(*got), c.keys);
    }
    // States up to the one asked from are forgotten: the site acknowledges only newer ones.
    ChangeChain chain;
    for (uint64_t g = 2; g <= 4; ++g) chain.note(state(g, g - 1, {"raenge"}, {}));
    ASSERT_TRUE(chain.between(2, 4));
    EXPECT_FALSE(chain.between(1, 4));
    // So are the oldest beyond the bound, while nothing is acknowledged.
    for (uint64_t g = 5; g <= kMaxNotedStates + 5; ++g) chain.note(state(g, g - 1, {"raenge"}, {}));
    EXPECT_FALSE(chain.between(4, kMaxNotedStates + 5));
    EXPECT_TRUE(chain.between(6, kMaxNotedStates + 5));
}

std::multiset<std::string> as_set(const std::vector<std::string>& lines) { return {lines.begin(), lines.end()}; }

const std::vector<std::string>& lines_of(const TablesDump& dump, const std::string& code) {
    for (const TableLines& t : dump)
        if (t.code == code) return t.lines;
    throw std::runtime_error("no table " + code);
}

// Lines in `before` that the keys do not account for: a line of a key not told stays, so the
// lines no longer add up (the table is then read whole); a line without a key is read again.
std::filesystem::path demo_file(const db::test::TempDir& dir, int shooters) {
    demo::DemoOptions opt;
    opt.shooters = shooters;
    demo::write_demo(opt, dir / "demo.mdb");
    return dir / "demo.mdb";
}

TEST(KeyedDump, LinesThatTheKeysDoNotAccountFor) {
    db::test::TempDir dir;
    const auto file = demo_file(dir, 20);
    const auto snapshot = db::Snapshot::from_image(db::build_snapshot_image(file), {});
    const TablesDump whole = dump_tables(*snapshot, StarterFilter::All, "x");
    const std::vector<db::TableKeys> no_keys{{"raenge", "Startnr", {}}, {"scheiben", "Sch_id", {}}};
    for (const std::string code : {"r", "sc"}) {
        SCOPED_TRACE(code);
        const std::vector<std::string>& lines = lines_of(whole, code);
        ASSERT_GT(lines.size(), 10u);
        std::vector<std::string> before = lines;
        before.push_back("#*i" + code + "#*'999999','1');");
        EXPECT_FALSE(lines_by_keys(*snapshot, code, before, no_keys));
        before.back() = "#*i" + code + "#*'','1');";
        const auto again = lines_by_keys(*snapshot, code, before, no_keys);
        ASSERT_TRUE(again);
        EXPECT_EQ(as_set(*again), as_set(lines));
        EXPECT_FALSE(lines_by_keys(*snapshot, code, lines, {}));  // no keys told for the table
    }
    EXPECT_FALSE(lines_by_keys(*snapshot, "v", lines_of(whole, "v"), no_keys));  // not read by key
}

TEST(KeyedDump, EqualsAWholeDumpThroughASimulatedCompetition) {
    db::test::TempDir dir;
    const auto file = demo_file(dir, 60);
    std::filesystem::create_directories(dir / "reader");
    db::ReaderService service(dir / "reader");
    ChangeChain chain;
    uint64_t generation = 0;
    auto next_state = [&]() -> std::shared_ptr<const db::Snapshot> {
        const db::ReaderService::Answer a = service.read(file, 30s);
        EXPECT_EQ(a.kind, db::ReaderService::Answer::Kind::image) << a.error;
        if (a.kind != db::ReaderService::Answer::Kind::image) return nullptr;
        const db::SnapshotInfo info = db::test::answered_state(a, ++generation);
        service.acknowledge(a.state);
        chain.note(info);
        return db::Snapshot::from_mapping(a.image, info);
    };
    auto acknowledged = next_state();
    ASSERT_TRUE(acknowledged);
    TablesDump lines = dump_tables(*acknowledged, StarterFilter::All, "x");
    int by_key = 0;
    for (uint64_t change = 1; change <= 24 && !::testing::Test::HasFailure(); ++change) {
        std::atomic<bool> stop{false};
        demo::LiveOptions live;
        live.file = file;
        live.seed = change;
        live.changes = 1 + change % 3;
        demo::run_live(live, stop, nullptr);
        const auto newest = next_state();
        ASSERT_TRUE(newest);
        if (change % 3 == 1) continue;  // the publisher skips states while it sends a batch
        const std::optional<FileChanges> changed = chain.between(acknowledged->info().generation, generation);
        ASSERT_TRUE(changed);
        const TablesDump fresh = dump_tables(*newest, StarterFilter::All, "x");
        for (const std::string code : {"r", "sc"})
            if (const auto keyed = lines_by_keys(*newest, code, lines_of(lines, code), changed->keys)) {
                ++by_key;
                EXPECT_EQ(as_set(*keyed), as_set(lines_of(fresh, code))) << code << ", change " << change;
            }
        const TablesDump made = dump_tables(*newest, StarterFilter::All, "x", lines, changed->tables, changed->keys);
        ASSERT_EQ(made.size(), fresh.size());
        for (std::size_t t = 0; t < made.size(); ++t)
            EXPECT_EQ(as_set(made[t].lines), as_set(fresh[t].lines)) << made[t].code << ", change " << change;
        lines = made;
        acknowledged = newest;
    }
    EXPECT_GT(by_key, 16);  // most states read ranks and targets by key
}

}  // namespace
}  // namespace ringolan::upload
