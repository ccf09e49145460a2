// Turns a JSON description of tables into a Jet 4 file.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "common/error.h"

namespace ringolan::mkdb {

// Bad input; the message names the table, row and column where it applies.
class SpecError : public Error {
public:
    using Error::Error;
};

struct Summary {
    size_t tables = 0;
    size_t rows = 0;
    size_t bytes = 0;
};

// Parses the description and writes the file atomically. Throws SpecError on bad input
// (then no file is written) and Error on I/O failure.
Summary write_from_json(const std::string& json_text, const std::filesystem::path& out);

}  // namespace ringolan::mkdb
