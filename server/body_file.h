// A long answer body held in an anonymous in-memory file, so that the socket layer can send it
// with platform::send_file: the system then refers to the file's pages instead of copying the
// bytes for every answer. The file is written once and never changed.
#pragma once

#include <memory>
#include <string_view>

#include "platform/memory_file.h"

namespace ringolan::server {

using BodyFile = platform::MemoryFile;

// The bytes in a new file; nullptr when none can be made (the bytes are then sent from memory).
std::shared_ptr<const BodyFile> make_body_file(std::string_view bytes);

}  // namespace ringolan::server
