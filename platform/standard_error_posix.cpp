#include "platform/standard_error.h"

#include <sys/stat.h>
#include <unistd.h>

namespace ringolan::platform {

void write_standard_error(std::string_view text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) return;
        p += n;
        left -= std::size_t(n);
    }
}

bool standard_error_is(uint64_t device, uint64_t inode) {
    struct stat st {};
    return ::fstat(STDERR_FILENO, &st) == 0 && uint64_t(st.st_dev) == device && uint64_t(st.st_ino) == inode;
}

}  // namespace ringolan::platform
