// Operator log of the servers: one line per event on stderr, with a local time stamp. Lines of
// different threads never interleave. When stderr is the systemd journal (which stamps each
// line itself) the time stamp is left out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ringolan::logging {

// Writes "YYYY-MM-DD HH:MM:SS <message>\n" to stderr in one write, or "<message>\n" when
// stderr is the journal.
void log_line(std::string_view message);

// The line as log_line writes it: the local time stamp first when with_time.
std::string format_line(std::string_view message, bool with_time);

// The device and inode named by journal_stream (JOURNAL_STREAM's "DEVICE:INODE", may be null);
// false when it names none.
bool parse_journal_stream(const char* journal_stream, uint64_t& device, uint64_t& inode);

}  // namespace ringolan::logging
