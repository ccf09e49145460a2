#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace ringolan::platform {
namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

int fd_of(NativeHandle handle) { return int(handle); }

FileState state_of(const struct stat& st) {
    FileState s;
    s.exists = S_ISREG(st.st_mode);
    if (!s.exists) return {};
    s.device = uint64_t(st.st_dev);
    s.inode = uint64_t(st.st_ino);
    s.size = uint64_t(st.st_size);
    s.mtime_ns = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

int open_flags(File::Access access) {
    switch (access) {
        case File::Access::read: return O_RDONLY;
        case File::Access::read_write: return O_RDWR;
        case File::Access::write_new:
        case File::Access::write_private: return O_WRONLY | O_CREAT | O_TRUNC;
    }
    return O_RDONLY;
}

}  // namespace

FileState file_state(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return state_of(st);
}

File File::open(const std::filesystem::path& path, Access access, std::error_code& ec) {
    const mode_t mode = access == Access::write_private ? 0600 : 0644;
    const int fd = ::open(path.c_str(), open_flags(access) | O_CLOEXEC, mode);
    ec = fd < 0 ? last_error() : std::error_code();
    return File(fd < 0 ? kNoHandle : NativeHandle(fd));
}

File File::create_unique(const std::filesystem::path& folder, const std::string& prefix,
                         std::filesystem::path& created, std::error_code& ec) {
    std::string name = (folder / (prefix + "XXXXXX")).string();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    ec = fd < 0 ? last_error() : std::error_code();
    if (fd >= 0) created = name;
    return File(fd < 0 ? kNoHandle : NativeHandle(fd));
}

File::~File() { close(); }

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, kNoHandle);
    }
    return *this;
}

std::size_t File::read_some(void* out, std::size_t size, std::error_code& ec) {
    for (;;) {
        const ssize_t n = ::read(fd_of(handle_), out, size);
        if (n < 0 && errno == EINTR) continue;
        ec = n < 0 ? last_error() : std::error_code();
        return n < 0 ? 0 : std::size_t(n);
    }
}

std::error_code File::read_exact_at(void* out, std::size_t size, uint64_t offset) {
    auto* p = static_cast<char*>(out);
    while (size > 0) {
        const ssize_t n = ::pread(fd_of(handle_), p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return last_error();
        if (n == 0) return std::make_error_code(std::errc::io_error);  // the file ends before
        p += n;
        size -= std::size_t(n);
        offset += uint64_t(n);
    }
    return {};
}

std::error_code File::write_all(const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_of(handle_), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return last_error();
        p += n;
        size -= std::size_t(n);
    }
    return {};
}

std::error_code File::write_all_at(const void* data, std::size_t size, uint64_t offset) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_of(handle_), p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return last_error();
        p += n;
        size -= std::size_t(n);
        offset += uint64_t(n);
    }
    return {};
}

std::error_code File::state(FileState& out) const {
    struct stat st {};
    if (::fstat(fd_of(handle_), &st) != 0) return last_error();
    out = state_of(st);
    return {};
}

std::error_code File::truncate(uint64_t size) {
    return ::ftruncate(fd_of(handle_), off_t(size)) == 0 ? std::error_code() : last_error();
}

std::error_code File::sync() { return ::fsync(fd_of(handle_)) == 0 ? std::error_code() : last_error(); }

std::error_code File::set_permissions(std::filesystem::perms perms) {
    return ::fchmod(fd_of(handle_), mode_t(perms)) == 0 ? std::error_code() : last_error();
}

File::Lock File::try_lock_exclusive(std::error_code& ec) {
    ec = {};
    if (::flock(fd_of(handle_), LOCK_EX | LOCK_NB) == 0) return Lock::taken;
    ec = last_error();
    return errno == EWOULDBLOCK ? Lock::busy : Lock::failed;
}

std::error_code File::close() {
    if (handle_ == kNoHandle) return {};
    const int fd = fd_of(std::exchange(handle_, kNoHandle));
    return ::close(fd) == 0 ? std::error_code() : last_error();
}

std::error_code sync_folder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return last_error();
    const std::error_code ec = ::fsync(fd) == 0 ? std::error_code() : last_error();
    ::close(fd);
    return ec;
}

std::filesystem::path create_temporary_folder(const std::string& prefix) {
    std::string name = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!::mkdtemp(name.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp " + name);
    return name;
}

}  // namespace ringolan::platform
