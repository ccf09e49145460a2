// Fuzz target: damaged demo files through the isolated build, and as an in-place change of a
// followed file through the long-running reader (which then decodes the damaged pages only).
// Whatever the bytes, the parent gets an image that SQLite accepts or an error that names the
// file, and never crashes.
//
// An input is a list of damages applied to a small demo file (written once per run):
//   byte 0: bit 0 set -> bytes 1..4 give a length the file is cut to (modulo its size);
//   then records of 5 bytes: a 4-byte offset (modulo the size) and the byte written there.
// With libFuzzer (RINGOLAN_FUZZ, clang) the outcome kinds feed extra coverage counters, since
// the reader runs in another process; without it, main() below runs a fixed number of
// reproducible random inputs.
#include <unistd.h>

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "db/snapshot/snapshot.h"
#include "db/snapshot/reader_service.h"
#include "db/snapshot/snapshot_child.h"
#include "tools/mkdemo/demo.h"

namespace fs = std::filesystem;

namespace {

struct Base {
    fs::path dir;
    fs::path file;
    fs::path followed;  // read clean, then damaged in place
    std::vector<uint8_t> bytes;
};

const Base& base() {
    static const Base b = [] {
        Base out;
        out.dir = fs::temp_directory_path() / ("fuzz_snapshot_" + std::to_string(::getpid()));
        fs::create_directories(out.dir);
        out.file = out.dir / "damaged.mdb";
        out.followed = out.dir / "followed.mdb";
        fs::create_directories(out.dir / "reader");
        ringolan::demo::DemoOptions opt;
        opt.shooters = 8;
        ringolan::demo::write_demo(opt, out.dir / "demo.mdb");
        std::ifstream in(out.dir / "demo.mdb", std::ios::binary);
        out.bytes.assign(std::istreambuf_iterator<char>(in), {});
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(base().dir, ec);
        });
        return out;
    }();
    return b;
}

uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_snapshot: %s: %s\n", what, detail.c_str());
    std::abort();
}

#ifdef RINGOLAN_LIBFUZZER
// Outcome kinds as coverage: an error text with its numbers removed picks one counter.
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t outcome_counters[4096];
void count_outcome(const std::string& text) {
    uint32_t h = 2166136261u;
    for (char c : text) {
        if (c >= '0' && c <= '9') continue;
        h = (h ^ uint8_t(c)) * 16777619u;
    }
    ++outcome_counters[h % sizeof outcome_counters];
}
#else
std::map<std::string, int> outcomes;  // kinds of outcome, numbers and the file name removed
void count_outcome(const std::string& text) {
    std::string kind;
    for (char c : text) {
        if (!(c >= '0' && c <= '9')) kind += c;
    }
    const std::string name = base().file.string();
    if (kind.rfind(name, 0) == 0) kind.erase(0, name.size());
    ++outcomes[kind.substr(0, 90)];
}
#endif

}  // namespace

// Every table's rows with their rowids, as one text.
std::string dump(const ringolan::db::Snapshot& snapshot) {
    auto c = snapshot.connect();
    std::string out;
    for (const std::string& table : snapshot.info().tables) {
        const std::string sql = "SELECT rowid, * FROM \"" + table + "\" ORDER BY rowid";
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(c.get(), sql.c_str(), -1, &st, nullptr) != SQLITE_OK) broken("table unreadable", table);
        out += table + '\n';
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                const auto* text = sqlite3_column_text(st, i);
                out += std::to_string(sqlite3_column_type(st, i)) + ':' + (text ? reinterpret_cast<const char*>(text) : "") + '|';
            }
            out += '\n';
        }
        sqlite3_finalize(st);
    }
    return out;
}

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The damaged bytes as a change of a file the reader has just read clean.
void read_in_place(const std::vector<uint8_t>& damaged, const std::string& whole_read) {
    using Kind = ringolan::db::ReaderService::Answer::Kind;
    static ringolan::db::ReaderService service(base().dir / "reader");
    const fs::path& file = base().followed;
    write_file(file, base().bytes);
    const auto clean = service.read(file, std::chrono::seconds(20));
    if (clean.kind == Kind::failed && clean.error.find("crashed") == std::string::npos)
        broken("clean file not read", clean.error);
    service.acknowledge(clean.state);
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    out.write(reinterpret_cast<const char*>(damaged.data()), std::streamsize(damaged.size()));
    out.close();
    if (damaged.size() < base().bytes.size()) fs::resize_file(file, damaged.size());
    const auto r = service.read(file, std::chrono::seconds(20));
    if (r.kind == Kind::image) {
        try {
            auto snap = ringolan::db::Snapshot::from_mapping(r.image, {});
            // What the page-by-page reader made equals a whole read of the same bytes.
            if (!whole_read.empty() && dump(*snap) != whole_read) {
                std::ofstream(base().dir.parent_path() / "fuzz_snapshot_whole.txt") << whole_read;
                std::ofstream(base().dir.parent_path() / "fuzz_snapshot_in_place.txt") << dump(*snap);
                broken("in place differs from a whole read (both written beside the folder)", file.string());
            }
            count_outcome(std::string("in place ok, ") + (r.full ? "read whole" : "page by page"));
        } catch (const std::exception& e) {
            broken("image rejected", e.what());
        }
    } else if (r.kind == Kind::failed) {
        if (r.error.rfind(file.string(), 0) != 0 && r.error.find(base().dir.string()) == std::string::npos)
            broken("error does not name the file", r.error);
        count_outcome("in place " + r.error.substr(r.error.find(": ") + 2));
    } else {
        count_outcome(r.kind == Kind::same ? "in place same" : "in place changing");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Base& b = base();
    std::vector<uint8_t> bytes = b.bytes;
    size_t at = 0;
    if (size >= 5 && (data[0] & 1)) {
        bytes.resize(u32(data + 1) % bytes.size());
        at = 5;
    } else if (size > 0) {
        at = 1;
    }
    for (; at + 5 <= size && !bytes.empty(); at += 5) bytes[u32(data + at) % bytes.size()] = data[at + 4];
    {
        std::ofstream out(b.file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    const ringolan::db::BuildResult r = ringolan::db::build_snapshot_isolated(b.file, std::chrono::seconds(20));
    std::string whole_read;
    if (r.ok()) {
        if (r.image.empty()) broken("empty image without error", b.file.string());
        try {
            auto snap = ringolan::db::Snapshot::from_image(r.image, {});
            whole_read = dump(*snap);
            count_outcome("ok " + std::to_string(snap->info().tables.size()));
        } catch (const std::exception& e) {
            broken("image rejected", e.what());
        }
    } else {
        if (r.error.rfind(b.file.string(), 0) != 0) broken("error does not name the file", r.error);
        if (!r.image.empty()) broken("image with error", r.error);
        count_outcome(r.error);
    }
    read_in_place(bytes, whole_read);
    return 0;
}

#ifndef RINGOLAN_LIBFUZZER
// fuzz_snapshot [RUNS [SEED]]: reproducible random damages (xorshift), a few to many per file.
int main(int argc, char** argv) {
    const long runs = argc > 1 ? std::atol(argv[1]) : 200;
    uint64_t s = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    auto next = [&s] {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    };
    const size_t file_size = base().bytes.size();
    long ok = 0;
    for (long i = 0; i < runs; ++i) {
        std::vector<uint8_t> input;
        const bool cut = next() % 8 == 0;
        input.push_back(cut ? 1 : 0);
        if (cut) {
            const uint32_t len = uint32_t(next() % file_size);
            for (int k = 0; k < 4; ++k) input.push_back(uint8_t(len >> (8 * k)));
        }
        // Mostly a few damages, sometimes many; half of them in the first pages (header, catalog).
        const int damages = next() % 4 == 0 ? int(next() % 400) : int(1 + next() % 8);
        for (int d = 0; d < damages; ++d) {
            const uint32_t off = uint32_t(next() % (next() % 2 ? 16384 : file_size));
            for (int k = 0; k < 4; ++k) input.push_back(uint8_t(off >> (8 * k)));
            input.push_back(uint8_t(next()));
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
        ++ok;
    }
    std::printf("fuzz_snapshot: %ld damaged files, parent intact\n", ok);
    for (const auto& [kind, n] : outcomes) std::printf("%6d  %s\n", n, kind.c_str());
    return 0;
}
#endif
