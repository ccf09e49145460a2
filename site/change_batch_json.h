// The body of a live batch and the answers of the changes address, as JSON (UTF-8):
//   {"stream":"3f2a-..","base":4,"sequence":5,
//    "tables":[{"code":"e","replace":false,"deletes":["#*ie#*'7','12','3');"],"inserts":[...]}]}
// Each row is one statement line as the classic upload writes it (without its line end), in
// UTF-8 here and Windows-1252 inside. "replace", "deletes" and "inserts" may be left out.
#pragma once

#include <string>
#include <string_view>

#include "common/error.h"
#include "site/store.h"

namespace ringolan::site {

// A body that is not a batch; what() is a German text for the client.
class BatchFormatError : public Error {
public:
    using Error::Error;
};

// Throws BatchFormatError for JSON that is not a batch (a missing or mistyped field, a line
// that does not parse, a line of another table than its entry).
ChangeBatch parse_change_batch(std::string_view json);

// {"outcome":"applied","stream":"..","sequence":5}; the outcome is left out when empty.
std::string change_answer_json(std::string_view outcome, const LiveState& state);

std::string_view outcome_name(ChangeOutcome outcome);

}  // namespace ringolan::site
