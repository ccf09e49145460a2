// incremental_bench FILE.mdb [CHANGES...]: the reader's phases on a demo file changed in place by
// the scoring simulator: a whole read, then for each count of changed results (default 1 10
// 100) the read of the file (compared with the kept copy), the page-by-page update of the
// database and the hand-over of the image, each the median of five rounds. In process, without
// the child; changes FILE. Release builds only; not a test.
// incremental_bench FILE.mdb --whole [ROUNDS]: only whole reads (default 5), each with a fresh
// copy and database, and the decoding alone; FILE is not changed.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "db/mdbread/page_reader.h"
#include "db/snapshot/file_mirror.h"
#include "db/snapshot/snapshot_database.h"
#include "platform/file.h"
#include "platform/heap_tuning.h"
#include "platform/memory_file.h"
#include "platform/process.h"
#include "tools/mkdemo/live.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace ringolan;

namespace {

double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// User and system time of the process so far.
double cpu_ms() {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The image into a sealed memory file, as the reader hands it over.
void hand_over(std::span<const uint8_t> image) {
    const platform::NativeHandle memory = platform::create_memory_file("bench");
    platform::write_channel(memory, image.data(), image.size());
    platform::seal_memory_file(memory);
    platform::close_memory_file(memory);
}

// The whole read ROUNDS times: each phase per round, then the medians.
int whole_reads(const fs::path& file, int rounds) {
    std::vector<double> copy, decode, build, handover, total, cpu;
    for (int round = 0; round < rounds; ++round) {
        const fs::path folder = platform::create_temporary_folder("ringolan-incremental-bench-");
        {
            db::FileMirror mirror(folder / "copy.mdb");
            db::SnapshotDatabase database;
            const double cpu0 = cpu_ms();
            auto t0 = Clock::now();
            if (mirror.refresh(file) != db::FileMirror::Outcome::read) return 1;
            copy.push_back(ms_since(t0));
            t0 = Clock::now();
            {
                mdbread::PageReader reader(mirror.copy(), mirror.bytes());
                database.rebuild(reader, mirror.copy());
            }
            build.push_back(ms_since(t0));
            t0 = Clock::now();
            hand_over(database.image());
            handover.push_back(ms_since(t0));
            total.push_back(copy.back() + build.back() + handover.back());
            cpu.push_back(cpu_ms() - cpu0);
            t0 = Clock::now();
            mdbread::PageReader reader(mirror.copy(), mirror.bytes());
            uint64_t rows = 0;
            for (size_t t = 0; t < reader.tables().size(); ++t)
                for (uint32_t page : reader.tables()[t].data_pages)
                    reader.decode_page(t, page, [&](uint32_t, const jet::Row&) { ++rows; });
            decode.push_back(ms_since(t0));
            std::printf("round %d: copy %.0f ms, decode and build %.0f ms, hand-over %.0f ms, total %.0f ms, "
                        "CPU %.0f ms (decoding alone %.0f ms, %llu rows)\n",
                        round + 1, copy.back(), build.back(), handover.back(), total.back(), cpu.back(), decode.back(),
                        (unsigned long long)rows);
        }
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    std::printf("median: copy %.0f ms, decode and build %.0f ms, hand-over %.0f ms, total %.0f ms, CPU %.0f ms (decoding alone %.0f ms)\n",
                median(copy), median(build), median(handover), median(total), median(cpu), median(decode));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: incremental_bench FILE.mdb [CHANGES...] | FILE.mdb --whole [ROUNDS]\n");
        return 2;
    }
    const fs::path file = argv[1];
    if (argc >= 3 && std::string(argv[2]) == "--whole") {
        // The heap as the reader child has it (its environment is read at start: start again).
        if (!std::getenv("GLIBC_TUNABLES")) {
            for (const std::string& setting : platform::large_heap_environment()) putenv(strdup(setting.c_str()));
            execv("/proc/self/exe", argv);
        }
        platform::tune_heap_for_large_build();
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);  // as the reader child
        return whole_reads(file, argc >= 4 ? std::atoi(argv[3]) : 5);
    }
    std::vector<uint64_t> counts;
    for (int i = 2; i < argc; ++i) counts.push_back(std::strtoull(argv[i], nullptr, 10));
    if (counts.empty()) counts = {1, 10, 100};
    const fs::path folder = platform::create_temporary_folder("ringolan-incremental-bench-");
    db::FileMirror mirror(folder / "copy.mdb");
    db::SnapshotDatabase database;

    auto t0 = Clock::now();
    if (mirror.refresh(file) != db::FileMirror::Outcome::read) return 1;
    const double copy_ms = ms_since(t0);
    t0 = Clock::now();
    {
        mdbread::PageReader reader(mirror.copy(), mirror.bytes());
        database.rebuild(reader, mirror.copy());
    }
    const double build_ms = ms_since(t0);
    mirror.settle();
    t0 = Clock::now();
    hand_over(database.image());
    std::printf("whole read: copy %.0f ms, decode and build %.0f ms, hand-over %.0f ms (image %.1f MiB)\n", copy_ms,
                build_ms, ms_since(t0), double(database.image().size()) / 1048576.0);
    std::printf("%8s %8s %10s %10s %10s %10s %10s  %s\n", "changes", "pages", "compare", "tables", "update", "hand-over",
                "total", "tables changed");
    std::atomic<bool> stop{false};
    uint64_t seed = 1;
    for (const uint64_t count : counts) {
        std::vector<double> compare, open, update, handover, pages;
        std::string changed;
        for (int round = 0; round < 5; ++round) {
            demo::LiveOptions live;
            live.file = file;
            live.changes = count;
            live.seed = seed++;
            demo::run_live(live, stop, nullptr);
            t0 = Clock::now();
            if (mirror.refresh(file) != db::FileMirror::Outcome::read) return 1;
            compare.push_back(ms_since(t0));
            pages.push_back(double(mirror.pending().size()));
            t0 = Clock::now();
            mdbread::PageReader reader(mirror.copy(), mirror.bytes());
            open.push_back(ms_since(t0));
            t0 = Clock::now();
            const auto tables = database.update(reader, mirror.pending());
            update.push_back(ms_since(t0));
            mirror.settle();
            t0 = Clock::now();
            hand_over(database.image());
            handover.push_back(ms_since(t0));
            changed.clear();
            for (const auto& t : tables.tables) changed += (changed.empty() ? "" : ", ") + t;
        }
        const double total = median(compare) + median(open) + median(update) + median(handover);
        std::printf("%8llu %8.0f %8.1f ms %7.1f ms %7.1f ms %7.1f ms %7.1f ms  %s\n", (unsigned long long)count,
                    median(pages), median(compare), median(open), median(update), median(handover), total, changed.c_str());
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
