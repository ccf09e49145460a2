// Operator log of the servers: one line per event on stderr, with a local time stamp. Lines of
// different threads never interleave.
#pragma once

#include <string_view>

namespace ringolan::logging {

// Writes "YYYY-MM-DD HH:MM:SS <message>\n" to stderr in one write.
void log_line(std::string_view message);

}  // namespace ringolan::logging
