// Sends part of a file to a socket, the system copying from the file's pages itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handle.h"

namespace ringolan::platform {

struct SendResult {
    enum class Status { sent, would_block, failed } status;
    std::size_t bytes = 0;  // sent, when status is sent
};

// Sends up to size bytes of file from offset to a non-blocking socket: sent (bytes > 0),
// would_block (the socket's buffer is full), or failed (the client went away, say). Never
// raises a signal for a closed connection in a thread that blocked it (block_broken_pipe_signal).
SendResult send_file(NativeHandle socket, NativeHandle file, uint64_t offset, std::size_t size);

}  // namespace ringolan::platform
