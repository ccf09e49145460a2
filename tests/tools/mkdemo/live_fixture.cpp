#include "tests/tools/mkdemo/live_fixture.h"

#include <gtest/gtest.h>

#include "api/api.h"
#include "common/ascii.h"
#include "db/query/query.h"
#include "db/snapshot/snapshot_build.h"
#include "tests/support/process.h"
#include "tools/mkdemo/demo.h"
#include "tools/mkdemo/live_invariant.h"

namespace live_test {

fs::path scratch() { return ringolan::readback::scratch_dir("mkdemo_live_test"); }

const fs::path& demo_file() {
    static const fs::path file = [] {
        const fs::path f = scratch() / "demo300.mdb";
        ringolan::demo::write_demo(ringolan::demo::DemoOptions{300, 1, true}, f);
        return f;
    }();
    return file;
}

void copy_demo(const fs::path& to) { fs::copy_file(demo_file(), to, fs::copy_options::overwrite_existing); }

std::vector<std::string> torn_shooters(const fs::path& mdb, size_t* asked) {
    namespace db = ringolan::db;
    db::SnapshotInfo info;
    info.source = mdb;
    info.generation = 1;
    const auto snapshot = db::Snapshot::from_image(db::build_snapshot_image(mdb), info);
    db::Query q;
    q.set_command("SELECT Startnr FROM starter");
    q.open(*snapshot);
    std::vector<std::string> torn;
    size_t n = 0;
    for (; !q.at_end(); q.next(), ++n) {
        const std::string nr = std::to_string(q.field("Startnr").as_int());
        const auto answer = ringolan::api::answer(*snapshot, "/shooters/" + nr, "");
        EXPECT_EQ(answer.status, 200) << nr;
        const std::string why = ringolan::demo::live_inconsistency(answer.json);
        if (!why.empty()) torn.push_back(nr + ": " + why);
    }
    if (asked) *asked = n;
    return torn;
}

Table::Table(const ringolan::readback::CanonTable& t) : rows_(t.rows) {
    for (size_t i = 0; i < t.column_names.size(); ++i) column_[ringolan::text::ascii_lower(t.column_names[i])] = i;
}

const std::string& Table::cell(size_t row, const std::string& column) const {
    return rows_.at(row).at(column_.at(ringolan::text::ascii_lower(column)));
}

double Table::number(size_t row, const std::string& column) const {
    const std::string& c = cell(row, column);
    return c == "NULL" ? 0.0 : std::stod(c);
}

std::map<std::string, Table> read_tables(const fs::path& mdb) {
    std::map<std::string, Table> out;
    for (const auto& t : ringolan::readback::canon_from_libmdb(mdb)) out.emplace(ringolan::text::ascii_lower(t.name), Table(t));
    return out;
}

}  // namespace live_test
