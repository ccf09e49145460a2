// The JSON API of the live view (/api/v1/...): answers computed from one snapshot of the
// competition file. Text leaves as UTF-8; the database's Windows-1252 is converted here.
#pragma once

#include <string>
#include <string_view>

#include "db/snapshot/snapshot.h"

namespace ringolan::api {

struct Answer {
    int status = 200;
    std::string json;  // UTF-8
};

// resource: the decoded document path after "/api/v1" ("/state", "/lists/3", ...);
// query: the raw text after "?". Unknown resources and ids answer 404, malformed input 400,
// each with {"error": "<plain German text>"}. Never throws for bad input.
Answer answer(const db::Snapshot& snapshot, std::string_view resource, std::string_view query);

// The answer when no competition file is open.
Answer no_competition();

}  // namespace ringolan::api
