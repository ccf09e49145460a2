// The error type of the database layer.
#pragma once

#include <stdexcept>

#include "common/error.h"

namespace ringolan::db {

// An error of the database layer (bad statement, missing table or field). The message names
// what failed and is meant for the 500 answer's body.
class QueryError : public Error {
public:
    using Error::Error;
};

}  // namespace ringolan::db
