#include "db/query/query.h"

namespace ringolan::db {

// The result is read completely at open, so the connection goes back to the pool right away.
void Query::open(const Snapshot& snapshot, std::vector<Param> params) {
    const Snapshot::Connection connection = snapshot.connect();
    open(connection.get(), std::move(params));
}

}  // namespace ringolan::db
