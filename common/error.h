// The one base of Ringolan's own exceptions (see docs/errors.md). what() is the message shown
// or logged; derived classes add what a caller needs to react (a status, a line, a column).
#pragma once

#include <stdexcept>

namespace ringolan {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ringolan
