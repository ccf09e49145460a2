// The error type of the database layer.
#pragma once

#include <stdexcept>

namespace ringolan::db {

// An error of the database layer (bad statement, missing table or field). The message names
// what failed and is meant for the 500 answer's body.
class QueryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ringolan::db
