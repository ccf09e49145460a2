#include "site/postgres_store.h"
#include "site/sqlite_store.h"

namespace ringolan::site {

std::unique_ptr<SiteStore> open_store(const std::string& database, const std::filesystem::path& data_dir) {
    if (database.empty() || database == "sqlite") return std::make_unique<SqliteStore>(data_dir);
    if (database.starts_with("postgresql://") || database.starts_with("postgres://"))
        return std::make_unique<PostgresStore>(database);
    throw StoreError("unknown database \"" + database.substr(0, database.find(':')) +
                     "\" (use sqlite or a postgresql:// address)");
}

}  // namespace ringolan::site
