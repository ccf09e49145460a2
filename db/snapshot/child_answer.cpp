// The child's answer on the pipe: one tag byte ('I' image, 'E' error text), the payload
// length as 8 bytes in host order, then the payload.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "db/snapshot/snapshot_child.h"

namespace ringolan::db {
namespace {

bool write_all(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool send(int fd, char tag, const void* data, uint64_t size) {
    uint8_t header[9];
    header[0] = uint8_t(tag);
    std::memcpy(header + 1, &size, 8);
    return write_all(fd, header, sizeof header) && write_all(fd, data, size);
}

}  // namespace

int answer_build(int fd, const std::filesystem::path& mdb, ImageBuilder build) {
    bool sent;
    try {
        const std::vector<uint8_t> image = build(mdb);
        sent = send(fd, 'I', image.data(), image.size());
    } catch (const std::exception& e) {
        sent = send(fd, 'E', e.what(), std::strlen(e.what()));
    } catch (...) {
        sent = send(fd, 'E', "unknown exception", 17);
    }
    return sent ? 0 : 3;
}

}  // namespace ringolan::db
