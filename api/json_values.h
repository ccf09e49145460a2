// Building blocks of the API's answers: database fields as JSON values, the answer frame and
// the error answers. Field text is Windows-1252 and leaves as UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "api/api.h"
#include "db/query/query.h"
#include "db/snapshot/snapshot.h"

namespace ringolan::api {

using Json = nlohmann::ordered_json;

// {"state": N}, the start of every answer.
Json answer_object(const db::Snapshot& snapshot);

Answer json_answer(const Json& body, int status = 200);
// {"error": message}; message is UTF-8 and holds nothing of the request but parsed numbers.
Answer error_answer(int status, std::string_view message);

// Windows-1252 text as a JSON string.
Json utf8(std::string_view cp1252);
// The field's text, null for NULL.
Json text_or_null(const db::Field& field);
// The field as a JSON number (whole numbers as integers), null for NULL or for text that
// spells no number.
Json number_or_null(const db::Field& field);
// A yes/no field: false for NULL and 0.
bool yes(const db::Field& field);

// A number as the classic pages print it (one decimal, "12,4"), read back as a JSON number.
Json shown_number(const std::string& page_text);

// A path segment that must be a whole number from 0 on: digits only, within int64.
std::optional<int64_t> parse_id(std::string_view segment);

// Whether the snapshot holds the table / the open query the column (letter case ignored);
// real files may lack what the demo has.
bool has_table(const db::Snapshot& snapshot, std::string_view name);
bool has_field(const db::Query& query, std::string_view name);

}  // namespace ringolan::api
