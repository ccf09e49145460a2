// The tables PostgresStore keeps, created and brought up to date by the site itself.
#pragma once

#include <libpq-fe.h>

namespace ringolan::site::pg {

// Applies the migrations the database lacks, in one transaction under an advisory lock, so
// processes starting at once do it one after the other. Throws StoreError, also for a database
// of a newer schema than this program knows.
void migrate(PGconn* c);

}  // namespace ringolan::site::pg
