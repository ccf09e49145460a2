// Whole-file reads and crash-safe whole-file writes for the small text files of the program.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ringolan::setup {

// The file's bytes, or nothing when it does not exist. Throws std::system_error on other
// failures (a folder in its place, no permission).
std::optional<std::string> read_file_bytes(const std::filesystem::path& file);

// Replaces the file's content: a temporary file beside it is written, flushed to disk and
// renamed over the file, so a crash leaves either the old or the new content. A symbolic
// link is followed, and an existing file keeps its permission bits (new files get new_mode
// less the umask). The folder must exist. Throws std::system_error naming the file.
void write_file_atomically(const std::filesystem::path& file, std::string_view bytes, unsigned new_mode = 0644);

}  // namespace ringolan::setup
