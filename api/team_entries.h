// The teams of a team list as merl.php shows them.
#pragma once

#include <cstdint>

#include "api/json_values.h"

namespace ringolan::api {

// [{"rank", "name", "result", "members": [{"startnr", "name", "first_name", "result"}]}] in
// merl.php's order; empty when the file has no teams.
Json team_entries(const db::Snapshot& snapshot, int64_t list);

}  // namespace ringolan::api
