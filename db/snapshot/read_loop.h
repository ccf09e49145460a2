// The reader child's side of a followed file: kept running, it reads the file each time it is
// asked, decoding only the pages that changed since the last answer, and hands each new
// database image over in a sealed memory file instead of through the channel.
//
// Channel protocol (two-way; child = ringolan-snapshot-reader --serve FOLDER):
//   command: 'R', 8 bytes acknowledged state (host order), 4 bytes path length, the path
//   answer:  1 tag byte, 8 bytes payload length (host order), payload
//     'M' image: the memory file comes with the tag byte; payload "key=value" lines:
//        state, full (0/1), bytes (image size), changed ("*" or tab-separated tables changed
//        since the acknowledged state), device, inode, size, mtime (the file as read)
//     'S' unchanged since the last answer: payload as 'M' without an image
//     'C' the file changed while it was read    'E' error text
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/handle.h"

namespace ringolan::db {

inline constexpr char kReadCommand = 'R';
inline constexpr char kAnswerImage = 'M', kAnswerSame = 'S', kAnswerChanging = 'C', kAnswerError = 'E';

// Serves read commands until the channel ends; the private copy is kept in folder.
int serve_reads(platform::NativeHandle channel, const std::filesystem::path& folder);

// Runs work (reading file through libmdb) with the standard error captured: libmdb reports a
// page it cannot read or a damaged row only there and goes on with what it has. Returns "" or
// the error: work's exception text, or the first reported loss. What was captured is passed on
// to the real standard error.
std::string watch_libmdb(const std::filesystem::path& file, const std::function<void()>& work);

}  // namespace ringolan::db
