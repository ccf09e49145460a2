#include "platform/wakeup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace ringolan::platform {

Wakeup::Wakeup() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (handle_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

Wakeup::~Wakeup() { ::close(int(handle_)); }

void Wakeup::signal() const {
    const uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(int(handle_), &one, sizeof one);
}

void Wakeup::clear() const {
    uint64_t count;
    [[maybe_unused]] auto n = ::read(int(handle_), &count, sizeof count);
}

}  // namespace ringolan::platform
