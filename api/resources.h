// The resources of the API, one function per address; api.cpp routes to them. Ids arrive
// parsed; every function answers with status and JSON and throws only for database failures.
#pragma once

#include <cstdint>
#include <string_view>

#include "api/api.h"
#include "db/snapshot/snapshot.h"

namespace ringolan::api {

Answer state_resource(const db::Snapshot& snapshot);                     // /state
Answer lists_resource(const db::Snapshot& snapshot);                     // /lists
Answer list_resource(const db::Snapshot& snapshot, int64_t id);          // /lists/{id}
Answer shooter_resource(const db::Snapshot& snapshot, int64_t startnr);  // /shooters/{startnr}
Answer clubs_resource(const db::Snapshot& snapshot);                     // /clubs
// nr: the club number as the path holds it (UTF-8)
Answer club_resource(const db::Snapshot& snapshot, std::string_view nr);  // /clubs/{nr}
// query: the raw query text ("q=...")
Answer search_resource(const db::Snapshot& snapshot, std::string_view query);  // /search

}  // namespace ringolan::api
