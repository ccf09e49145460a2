// The process's standard error as the log sees it.
#pragma once

#include <cstdint>
#include <string_view>

namespace ringolan::platform {

// Writes all of text to the standard error; a closed or broken one loses it silently.
void write_standard_error(std::string_view text);
// Whether the standard error is the file with this identity (device, inode): how the journal
// names the stream it hands a service.
bool standard_error_is(uint64_t device, uint64_t inode);

}  // namespace ringolan::platform
