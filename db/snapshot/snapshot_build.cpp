#include "db/snapshot/snapshot_build.h"

#include "db/mdbread/page_reader.h"
#include "db/snapshot/snapshot_database.h"

namespace ringolan::db {

namespace fs = std::filesystem;

std::string declared_type(jet::ColumnType type) {
    switch (type) {
    case jet::ColumnType::Boolean: return "BOOLEAN";
    case jet::ColumnType::Byte: return "BYTE";
    case jet::ColumnType::Integer: return "SMALLINT";
    case jet::ColumnType::Long: return "LONG";
    case jet::ColumnType::Currency: return "CURRENCY";
    case jet::ColumnType::Single: return "SINGLE";
    case jet::ColumnType::Double: return "DOUBLE";
    case jet::ColumnType::DateTime: return "DATETIME";
    case jet::ColumnType::Text: return "TEXT";
    case jet::ColumnType::Memo: return "MEMO TEXT";
    case jet::ColumnType::Ole: return "OLE TEXT";
    }
    switch (static_cast<int>(type)) {
    case 0x09: return "BINARY TEXT";
    case 0x0F: return "GUID TEXT";
    case 0x10: return "NUMERIC TEXT";
    default: return "TYPE" + std::to_string(static_cast<int>(type)) + " TEXT";
    }
}

const std::vector<std::string>& indexed_columns() {
    static const std::vector<std::string> columns = {"Startnr", "Vereinsnr", "Erg_id", "Scheiben_id", "Sch_id",
                                                     "ErglistID", "Mann_id", "Wettb_id", "DP_ID", "ID"};
    return columns;
}

std::vector<uint8_t> build_snapshot_image(const fs::path& mdb) { return build_snapshot_image(mdb, BuildOptions{}); }

std::vector<uint8_t> build_snapshot_image(const fs::path& mdb, const BuildOptions& options) {
    mdbread::PageReader reader(mdb);
    SnapshotDatabase database(options);
    database.rebuild(reader, mdb);
    const std::span<const uint8_t> image = database.image();
    return std::vector<uint8_t>(image.begin(), image.end());
}

}  // namespace ringolan::db
