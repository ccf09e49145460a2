#include "db/jet/journal.h"

#include <cstring>
#include <stdexcept>

#include "common/error.h"

namespace ringolan::jet {
namespace {

constexpr char kMagic[8] = {'R', 'G', 'L', 'N', 'J', 'R', 'N', '1'};
constexpr char kTrailer[4] = {'D', 'O', 'N', 'E'};
constexpr size_t kHeader = 8 + 8 + 4;
constexpr size_t kEntry = 4 + kPageSize;

using platform::File;

[[noreturn]] void io_fail(const std::string& what, const std::filesystem::path& p, std::error_code ec) {
    throw Error(what + " " + p.string() + ": " + ec.message());
}

uint64_t fnv1a(const uint8_t* p, size_t n, uint64_t h = 0xcbf29ce484222325ull) {
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

void write_all(File& file, const uint8_t* p, size_t n, uint64_t at, const std::filesystem::path& path) {
    if (const std::error_code ec = file.write_all_at(p, n, at)) io_fail("cannot write", path, ec);
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
    if (const std::error_code ec = platform::sync_folder(f)) io_fail("cannot sync folder", f, ec);
}

void write_journal(const std::filesystem::path& db, uint64_t original_size, const std::vector<PageImage>& originals,
                   const StepHook& hook) {
    const auto path = journal_path(db);
    std::error_code ec;
    File file = File::open(path, File::Access::write_new, ec);
    if (ec) io_fail("cannot create journal", path, ec);
    std::vector<uint8_t> head(kHeader);
    std::memcpy(head.data(), kMagic, 8);
    put_u64(&head[8], original_size);
    put_u32(&head[16], uint32_t(originals.size()));
    uint64_t sum = fnv1a(head.data(), head.size());
    write_all(file, head.data(), head.size(), 0, path);
    step(hook, "journal header");
    uint64_t at = kHeader;
    for (const PageImage& img : originals) {
        uint8_t num[4];
        put_u32(num, img.number);
        sum = fnv1a(num, 4, sum);
        sum = fnv1a(img.bytes.data(), kPageSize, sum);
        write_all(file, num, 4, at, path);
        write_all(file, img.bytes.data(), kPageSize, at + 4, path);
        at += kEntry;
        step(hook, "journal page");
    }
    uint8_t tail[12];
    std::memcpy(tail, kTrailer, 4);
    put_u64(tail + 4, sum);
    write_all(file, tail, sizeof tail, at, path);
    step(hook, "journal trailer");
    if ((ec = file.sync())) io_fail("cannot sync journal", path, ec);
    step(hook, "journal sync");
    sync_folder(db.parent_path());
    step(hook, "journal folder sync");
}

void remove_journal(const std::filesystem::path& db, const StepHook& hook) {
    const auto path = journal_path(db);
    std::error_code ec;
    std::filesystem::remove(path, ec);  // a journal that is not there is no error
    if (ec) io_fail("cannot remove journal", path, ec);
    step(hook, "journal removed");
    sync_folder(db.parent_path());
    step(hook, "folder sync");
}

namespace {

// The whole journal at path; empty and exists false when there is none.
std::vector<uint8_t> read_journal(const std::filesystem::path& path, bool& exists) {
    std::error_code ec;
    File journal = File::open(path, File::Access::read, ec);
    exists = !ec;
    if (ec == std::errc::no_such_file_or_directory) return {};
    if (ec) io_fail("cannot open journal", path, ec);
    platform::FileState st;
    if ((ec = journal.state(st))) io_fail("cannot read journal", path, ec);
    std::vector<uint8_t> bytes(size_t(st.size));
    if (!bytes.empty() && (ec = journal.read_exact_at(bytes.data(), bytes.size(), 0)))
        io_fail("cannot read journal", path, ec);
    return bytes;
}

}  // namespace

Recovery recover_locked(const std::filesystem::path& db, File& file) {
    const auto path = journal_path(db);
    bool exists = false;
    const std::vector<uint8_t> bytes = read_journal(path, exists);
    if (!exists) return Recovery::Nothing;
    Journal j;
    if (!parse_journal(bytes, j)) {
        // Written pages follow only a complete, synced journal: the file is untouched.
        remove_journal(db, {});
        return Recovery::DiscardedPartial;
    }
    for (const PageImage& img : j.pages)
        write_all(file, img.bytes.data(), kPageSize, uint64_t(img.number) * kPageSize, db);
    std::error_code ec;
    if ((ec = file.truncate(j.original_size))) io_fail("cannot truncate", db, ec);
    if ((ec = file.sync())) io_fail("cannot sync", db, ec);
    remove_journal(db, {});
    return Recovery::RolledBack;
}

Recovery recover(const std::filesystem::path& db) {
    if (!std::filesystem::exists(journal_path(db))) return Recovery::Nothing;
    std::error_code ec;
    File file = File::open(db, File::Access::read_write, ec);
    if (ec) io_fail("cannot open", db, ec);
    const File::Lock lock = file.try_lock_exclusive(ec);
    if (lock == File::Lock::busy) return Recovery::Busy;
    if (lock == File::Lock::failed) io_fail("cannot lock", db, ec);
    return recover_locked(db, file);
}

}  // namespace ringolan::jet
