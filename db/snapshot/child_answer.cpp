// The child's answer on the pipe: one tag byte ('I' image, 'E' error text), the payload
// length as 8 bytes in host order, then the payload.
#include <cstring>
#include <exception>

#include "db/snapshot/snapshot_child.h"
#include "platform/process.h"

namespace ringolan::db {
namespace {

bool send(platform::NativeHandle answer, char tag, const void* data, uint64_t size) {
    uint8_t header[9];
    header[0] = uint8_t(tag);
    std::memcpy(header + 1, &size, 8);
    return platform::write_channel(answer, header, sizeof header) && platform::write_channel(answer, data, size);
}

}  // namespace

int answer_build(platform::NativeHandle answer, const std::filesystem::path& mdb, ImageBuilder build) {
    bool sent;
    try {
        const std::vector<uint8_t> image = build(mdb);
        sent = send(answer, 'I', image.data(), image.size());
    } catch (const std::exception& e) {
        sent = send(answer, 'E', e.what(), std::strlen(e.what()));
    } catch (...) {
        sent = send(answer, 'E', "unknown exception", 17);
    }
    return sent ? 0 : 3;
}

}  // namespace ringolan::db
