#include "app/settings/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace ringolan::setup {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(int err, const std::string& what, const fs::path& file) {
    throw std::system_error(err, std::generic_category(), what + " " + file.string());
}

// Closes a descriptor and removes a temporary file unless released.
struct TempFile {
    int fd = -1;
    std::string path;
    ~TempFile() {
        if (fd >= 0) ::close(fd);
        if (!path.empty()) ::unlink(path.c_str());
    }
};

}  // namespace

std::optional<std::string> read_file_bytes(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        fail(errno, "cannot open", file);
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            fail(err, "cannot read", file);
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

void write_file_atomically(const fs::path& file, std::string_view bytes, unsigned new_mode) {
    // Write through a symbolic link to its target, so the link stays a link.
    std::error_code ec;
    fs::path target = file;
    if (fs::is_symlink(file, ec)) {
        target = fs::weakly_canonical(file, ec);
        if (ec) fail(ec.value(), "cannot resolve", file);
    }

    mode_t mode = 0;
    bool keep_mode = false;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) fail(EISDIR, "cannot write", file);
        // A read-only file is not replaced behind its owner's back.
        if (::access(target.c_str(), W_OK) != 0) fail(errno, "cannot write", file);
        mode = st.st_mode & 07777;
        keep_mode = true;
    }

    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    TempFile temp;
    // A new file gets new_mode less the umask; an existing one its own bits (below).
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; temp.fd < 0; ++attempt) {
        const std::string name = "." + target.filename().string() + "." + std::to_string(::getpid()) +
                                 "." + std::to_string(counter.fetch_add(1)) + ".tmp";
        temp.path = (folder / name).string();
        temp.fd = ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(new_mode));
        if (temp.fd < 0) {
            const int err = errno;
            temp.path.clear();
            if (err != EEXIST || attempt >= 100) fail(err, "cannot write", file);
        }
    }
    if (keep_mode && ::fchmod(temp.fd, mode) != 0) fail(errno, "cannot write", file);

    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(temp.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno, "cannot write", file);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(temp.fd) != 0) fail(errno, "cannot write", file);
    const int fd = temp.fd;
    temp.fd = -1;
    if (::close(fd) != 0) fail(errno, "cannot write", file);
    if (::rename(temp.path.c_str(), target.c_str()) != 0) fail(errno, "cannot write", file);
    temp.path.clear();

    // Make the rename itself durable.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace ringolan::setup
