#include "tests/api/api_fixture.h"

#include <gtest/gtest.h>

#include "api/api.h"
#include "common/ascii.h"
#include "db/snapshot/snapshot_build.h"
#include "tests/support/read_back.h"

namespace ringolan::test_api {

namespace fs = std::filesystem;

std::shared_ptr<const db::Snapshot> snapshot_of(const fs::path& mdb, uint64_t generation) {
    db::SnapshotInfo info;
    info.source = mdb;
    info.generation = generation;
    return db::Snapshot::from_image(db::build_snapshot_image(mdb), info);
}

Reply ask(const db::Snapshot& snapshot, std::string_view resource, std::string_view query) {
    const api::Answer a = api::answer(snapshot, resource, query);
    Reply r{a.status, nullptr};
    try {
        r.body = Json::parse(a.json);
    } catch (const Json::parse_error& e) {
        ADD_FAILURE() << resource << "?" << query << " is no JSON: " << e.what();
    }
    return r;
}

bool ReaderRow::is_null(const std::string& column) const { return cells.at(column) == "NULL"; }

int64_t ReaderRow::integer(const std::string& column) const {
    return is_null(column) ? 0 : std::stoll(cells.at(column));
}

std::optional<double> ReaderRow::number(const std::string& column) const {
    if (is_null(column)) return std::nullopt;
    return std::stod(cells.at(column));
}

Json ReaderRow::text(const std::string& column) const {
    if (is_null(column)) return nullptr;
    const std::string& quoted = cells.at(column);
    return quoted.substr(1, quoted.size() - 2);
}

std::map<std::string, std::vector<ReaderRow>> read_with_mdbreader(const fs::path& mdb) {
    std::map<std::string, std::vector<ReaderRow>> out;
    for (const readback::CanonTable& t : readback::canon_from_mdbreader(mdb)) {
        auto& rows = out[text::ascii_lower(t.name)];
        for (const auto& cells : t.rows) {
            ReaderRow row;
            for (size_t c = 0; c < cells.size(); ++c) row.cells[text::ascii_lower(t.column_names[c])] = cells[c];
            rows.push_back(std::move(row));
        }
    }
    return out;
}

Json number(const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); }

}  // namespace ringolan::test_api
