#include "server/body_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace ringolan::server {

std::shared_ptr<const BodyFile> BodyFile::of(std::string_view bytes) {
    const int fd = ::memfd_create("ringolan-page", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    std::shared_ptr<const BodyFile> file(new BodyFile(fd, bytes.size()));
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return nullptr;  // out of memory: closed with file
        done += std::size_t(n);
    }
    return file;
}

BodyFile::~BodyFile() { ::close(fd_); }

}  // namespace ringolan::server
