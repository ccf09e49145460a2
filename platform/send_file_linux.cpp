#include "platform/send_file.h"

#include <sys/sendfile.h>

#include <cerrno>

namespace ringolan::platform {

SendResult send_file(NativeHandle socket, NativeHandle file, uint64_t offset, std::size_t size) {
    for (;;) {
        off_t at = off_t(offset);
        const ssize_t n = ::sendfile(int(socket), int(file), &at, size);
        if (n > 0) return {SendResult::Status::sent, std::size_t(n)};
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {SendResult::Status::would_block};
        return {SendResult::Status::failed};
    }
}

}  // namespace ringolan::platform
