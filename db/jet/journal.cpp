#include "db/jet/journal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/error.h"
#include "common/unique_fd.h"

namespace ringolan::jet {
namespace {

constexpr char kMagic[8] = {'R', 'G', 'L', 'N', 'J', 'R', 'N', '1'};
constexpr char kTrailer[4] = {'D', 'O', 'N', 'E'};
constexpr size_t kHeader = 8 + 8 + 4;
constexpr size_t kEntry = 4 + kPageSize;

[[noreturn]] void io_fail(const std::string& what, const std::filesystem::path& p) {
    throw Error(what + " " + p.string() + ": " + std::strerror(errno));
}

uint64_t fnv1a(const uint8_t* p, size_t n, uint64_t h = 0xcbf29ce484222325ull) {
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

void write_all(int fd, const uint8_t* p, size_t n, uint64_t at, const std::filesystem::path& path) {
    while (n) {
        const ssize_t w = ::pwrite(fd, p, n, off_t(at));
        if (w < 0) {
            if (errno == EINTR) continue;
            io_fail("cannot write", path);
        }
        p += w;
        n -= size_t(w);
        at += uint64_t(w);
    }
}

bool read_all(int fd, uint8_t* p, size_t n, uint64_t at) {
    while (n) {
        const ssize_t r = ::pread(fd, p, n, off_t(at));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
        at += uint64_t(r);
    }
    return true;
}

void step(const StepHook& hook, const char* name) {
    if (hook) hook(name);
}

// The journal's contents when it is complete and intact.
struct Journal {
    uint64_t original_size = 0;
    std::vector<PageImage> pages;
};

bool parse_journal(const std::vector<uint8_t>& b, Journal& j) {
    if (b.size() < kHeader + 12 || std::memcmp(b.data(), kMagic, 8) != 0) return false;
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) size = size << 8 | b[8 + size_t(i)];
    const uint32_t count = get_u32(&b[16]);
    if (b.size() != kHeader + size_t(count) * kEntry + 12) return false;
    const size_t end = b.size() - 12;
    if (std::memcmp(&b[end], kTrailer, 4) != 0) return false;
    uint64_t sum = 0;
    for (int i = 7; i >= 0; --i) sum = sum << 8 | b[end + 4 + size_t(i)];
    if (sum != fnv1a(b.data(), end)) return false;
    j.original_size = size;
    for (uint32_t k = 0; k < count; ++k) {
        PageImage img;
        const uint8_t* e = &b[kHeader + k * kEntry];
        img.number = get_u32(e);
        std::memcpy(img.bytes.data(), e + 4, kPageSize);
        if ((uint64_t(img.number) + 1) * kPageSize > size) return false;
        j.pages.push_back(img);
    }
    return true;
}

}  // namespace

std::filesystem::path journal_path(const std::filesystem::path& db) {
    std::filesystem::path p = db;
    p += "-journal";
    return p;
}

void sync_folder(const std::filesystem::path& folder) {
    const std::filesystem::path f = folder.empty() ? "." : folder;
    UniqueFd fd(::open(f.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) io_fail("cannot open folder", f);
    if (::fsync(fd.get()) != 0) io_fail("cannot sync folder", f);
}

void write_journal(const std::filesystem::path& db, uint64_t original_size, const std::vector<PageImage>& originals,
                   const StepHook& hook) {
    const auto path = journal_path(db);
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) io_fail("cannot create journal", path);
    std::vector<uint8_t> head(kHeader);
    std::memcpy(head.data(), kMagic, 8);
    put_u64(&head[8], original_size);
    put_u32(&head[16], uint32_t(originals.size()));
    uint64_t sum = fnv1a(head.data(), head.size());
    write_all(fd.get(), head.data(), head.size(), 0, path);
    step(hook, "journal header");
    uint64_t at = kHeader;
    for (const PageImage& img : originals) {
        uint8_t num[4];
        put_u32(num, img.number);
        sum = fnv1a(num, 4, sum);
        sum = fnv1a(img.bytes.data(), kPageSize, sum);
        write_all(fd.get(), num, 4, at, path);
        write_all(fd.get(), img.bytes.data(), kPageSize, at + 4, path);
        at += kEntry;
        step(hook, "journal page");
    }
    uint8_t tail[12];
    std::memcpy(tail, kTrailer, 4);
    put_u64(tail + 4, sum);
    write_all(fd.get(), tail, sizeof tail, at, path);
    step(hook, "journal trailer");
    if (::fsync(fd.get()) != 0) io_fail("cannot sync journal", path);
    step(hook, "journal sync");
    sync_folder(db.parent_path());
    step(hook, "journal folder sync");
}

void remove_journal(const std::filesystem::path& db, const StepHook& hook) {
    const auto path = journal_path(db);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) io_fail("cannot remove journal", path);
    step(hook, "journal removed");
    sync_folder(db.parent_path());
    step(hook, "folder sync");
}

Recovery recover_locked(const std::filesystem::path& db, int fd) {
    const auto path = journal_path(db);
    std::vector<uint8_t> bytes;
    {
        UniqueFd jfd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (jfd.get() < 0) {
            if (errno == ENOENT) return Recovery::Nothing;
            io_fail("cannot open journal", path);
        }
        struct stat st {};
        if (::fstat(jfd.get(), &st) != 0) io_fail("cannot read journal", path);
        bytes.resize(size_t(st.st_size));
        if (!bytes.empty() && !read_all(jfd.get(), bytes.data(), bytes.size(), 0)) io_fail("cannot read journal", path);
    }
    Journal j;
    if (!parse_journal(bytes, j)) {
        // Written pages follow only a complete, synced journal: the file is untouched.
        remove_journal(db, {});
        return Recovery::DiscardedPartial;
    }
    for (const PageImage& img : j.pages)
        write_all(fd, img.bytes.data(), kPageSize, uint64_t(img.number) * kPageSize, db);
    if (::ftruncate(fd, off_t(j.original_size)) != 0) io_fail("cannot truncate", db);
    if (::fsync(fd) != 0) io_fail("cannot sync", db);
    remove_journal(db, {});
    return Recovery::RolledBack;
}

Recovery recover(const std::filesystem::path& db) {
    if (!std::filesystem::exists(journal_path(db))) return Recovery::Nothing;
    UniqueFd fd(::open(db.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0) io_fail("cannot open", db);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return Recovery::Busy;
        io_fail("cannot lock", db);
    }
    return recover_locked(db, fd.get());
}

}  // namespace ringolan::jet
