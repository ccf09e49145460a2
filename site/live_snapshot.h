// An account's stored tables as a snapshot of the competition file, so that the range server's
// API answers from it unchanged. Every table of the scoring program's file is there with its
// columns and Jet types as the range's snapshot declares them; the columns an upload does not
// carry are NULL. Uploaded values go back to the file's form: yes/no columns, which the upload
// writes inverted ("-1" for no), are -1 / 0 again; date-time columns stay NULL (the upload
// writes them in the regional form of the uploading machine).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/jet/value.h"
#include "db/snapshot/snapshot.h"
#include "site/store.h"

namespace ringolan::site {

struct FileColumn {
    std::string name;
    jet::ColumnType type;
};

struct FileTable {
    std::string_view name;    // as in the file
    std::string_view upload;  // the upload's table name (upload_tables())
    std::vector<FileColumn> columns;
};

// The file's tables in the file's order.
const std::vector<FileTable>& file_tables();

// Builds the snapshot while the account's tables are read (SiteStore::read_each), without
// holding them. Throws std::runtime_error when SQLite fails.
class LiveSnapshotBuilder : public TableVisitor {
public:
    LiveSnapshotBuilder();
    ~LiveSnapshotBuilder() override;
    LiveSnapshotBuilder(const LiveSnapshotBuilder&) = delete;
    LiveSnapshotBuilder& operator=(const LiveSnapshotBuilder&) = delete;

    void table(const std::string& name, const std::vector<std::string>& columns) override;
    void row(const std::vector<StoredValueView>& values) override;

    std::size_t rows() const { return total_rows_; }
    std::size_t rows_of(const std::string& table) const;  // by the upload's table name

    // The serialized SQLite database (see db/snapshot/snapshot_build.h for the declared types),
    // or the snapshot of it: generation is the data's version, source names the account. Once.
    std::vector<std::uint8_t> image();
    std::shared_ptr<const db::Snapshot> snapshot(const std::string& account, std::int64_t version);

private:
    struct Build;
    std::unique_ptr<Build> build_;
    std::map<std::string, std::size_t> rows_;
    std::size_t* current_ = nullptr;
    std::size_t total_rows_ = 0;
};

}  // namespace ringolan::site
