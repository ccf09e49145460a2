// An account's stored tables as a snapshot of the competition file, so that the range server's
// API answers from it unchanged. Every table of the scoring program's file is there with its
// columns and Jet types as the range's snapshot declares them; the columns an upload does not
// carry are NULL. Uploaded values go back to the file's form: yes/no columns, which the upload
// writes inverted ("-1" for no), are -1 / 0 again; date-time columns stay NULL (the upload
// writes them in the regional form of the uploading machine).
#pragma once

#include <cstdint>
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

// The serialized SQLite database of the account's data (see db/snapshot/snapshot_build.h for
// the declared types). Throws std::runtime_error when SQLite fails.
std::vector<std::uint8_t> live_image(const AccountData& data);

// The snapshot of the data: generation is the data's version, source names the account.
std::shared_ptr<const db::Snapshot> live_snapshot(const std::string& account, const AccountData& data);

}  // namespace ringolan::site
