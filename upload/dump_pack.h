// A table's dump written and packed in one pass: the dump's bytes go through a pipe of fixed
// pieces to a second thread that writes them to the .sql file and deflates them into the
// .sql.gz file, so the dump and zlib run side by side and nothing grows with the rows. The
// files are the same bytes as the dump written to the .sql file followed by gzip_file of it.
#pragma once

#include <exception>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <ostream>

#include "upload/gzip_file.h"

namespace ringolan::upload {

struct PackedDump {
    size_t lines = 0;  // what the dump returned
    GzipResult gzip;
};

// Writes the lines to the stream given to it and returns their number.
using DumpFunction = std::function<size_t(std::ostream&)>;

// Runs dump on the calling thread into sql (created or overwritten) and its gzip member into gz.
// named is the path the .sql file goes by (sql when empty): its base name goes into the gzip
// header. Throws GzipPathTooLong before writing anything when named is longer than
// kGzipMaxPath, std::runtime_error naming a file that cannot be written, and passes on what dump
// throws.
// stop is asked before each piece is handed on (any thread may make it true meanwhile); an
// exception it returns ends the dump and is thrown.
using StopCheck = std::function<std::exception_ptr()>;
PackedDump dump_and_pack(const DumpFunction& dump, const std::filesystem::path& sql, const std::filesystem::path& gz,
                         const StopCheck& stop = nullptr, const std::filesystem::path& named = {});

}  // namespace ringolan::upload
