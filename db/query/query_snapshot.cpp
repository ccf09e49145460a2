#include "db/query/query.h"
#include "db/snapshot/read_recorder.h"

namespace ringolan::db {

// The result is read completely at open, so the connection goes back to the pool right away.
// A statement that fails may have named a table it did not find, which no recorder saw.
void Query::open(const Snapshot& snapshot, std::vector<Param> params) {
    const Snapshot::Connection connection = snapshot.connect();
    try {
        open(connection.get(), std::move(params));
    } catch (...) {
        ReadRecorder::note_whole_state();
        throw;
    }
}

}  // namespace ringolan::db
