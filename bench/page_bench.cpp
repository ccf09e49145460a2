// page_bench: vstbl.php page generations per second on the demo competition, first on a fixed
// snapshot, then while another thread rebuilds the snapshot from the same file and swaps it in
// every second. Pages per CPU second of the page threads is the figure per core; wall-clock rates
// depend on what else runs on the machine.
//
//   page_bench [--shooters N] [--seconds S] [--threads T]
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/snapshot/snapshot.h"
#include "db/snapshot/snapshot_build.h"
#include "server/dispatcher.h"
#include "tools/mkdemo/demo.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using ringolan::db::Snapshot;

namespace {

struct Current {
    std::mutex mutex;
    std::shared_ptr<const Snapshot> snapshot;

    std::shared_ptr<const Snapshot> get() {
        std::lock_guard lock(mutex);
        return snapshot;
    }
    void set(std::shared_ptr<const Snapshot> s) {
        std::lock_guard lock(mutex);
        snapshot = std::move(s);
    }
};

std::shared_ptr<const Snapshot> build(const fs::path& file, uint64_t generation) {
    ringolan::db::SnapshotInfo info;
    info.source = file;
    info.generation = generation;
    return Snapshot::from_image(ringolan::db::build_snapshot_image(file), info);
}

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Run {
    uint64_t pages = 0;
    double seconds = 0;
    double cpu_seconds = 0;  // of the page threads
    size_t page_bytes = 0;
    uint64_t swaps = 0;
    double swap_build_ms = 0;  // mean
};

// Every page takes the current snapshot and keeps it for the whole page.
Run measure(Current& current, const fs::path& file, int threads, double seconds, bool swapping) {
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> pages{0};
    std::atomic<size_t> bytes{0};
    std::mutex cpu_mutex;
    double cpu = 0;
    Run run;
    std::thread swapper;
    if (swapping) {
        swapper = std::thread([&] {
            uint64_t generation = 2;
            auto next = Clock::now() + std::chrono::seconds(1);
            double total_ms = 0;
            while (!stop) {
                std::this_thread::sleep_until(next);
                if (stop) break;
                next += std::chrono::seconds(1);
                const auto t0 = Clock::now();
                current.set(build(file, generation++));
                total_ms += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                ++run.swaps;
            }
            run.swap_build_ms = run.swaps ? total_ms / double(run.swaps) : 0;
        });
    }
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            const double cpu_start = thread_cpu_seconds();
            uint64_t n = 0;
            while (Clock::now() < end) {
                ringolan::pages::PageContext ctx{current.get(), {}};
                const auto page = ringolan::server::DispatchPage(ctx, "/vstbl.php", "");
                if (page.status != 200) {
                    std::fprintf(stderr, "page_bench: status %d\n", page.status);
                    std::exit(1);
                }
                bytes = page.body.size();
                ++n;
            }
            pages += n;
            std::lock_guard lock(cpu_mutex);
            cpu += thread_cpu_seconds() - cpu_start;
        });
    }
    for (auto& w : workers) w.join();
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    if (swapper.joinable()) swapper.join();
    run.pages = pages;
    run.page_bytes = bytes;
    run.cpu_seconds = cpu;
    return run;
}

void print(const char* what, int threads, const Run& r) {
    const double rate = double(r.pages) / r.seconds;
    std::printf("%-18s threads %d: %7.1f pages/s (%6.1f per thread), %7.1f pages per CPU second", what, threads,
                rate, rate / threads, double(r.pages) / r.cpu_seconds);
    if (r.swaps) std::printf(", %llu swaps (rebuild %.0f ms each)", static_cast<unsigned long long>(r.swaps), r.swap_build_ms);
    std::printf("\n");
}

int usage() {
    std::fprintf(stderr, "usage: page_bench [--shooters N] [--seconds S] [--threads T]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int shooters = 10000, threads = int(std::max(1u, std::thread::hardware_concurrency()));
    double seconds = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return usage();
        if (a == "--shooters") shooters = std::atoi(argv[++i]);
        else if (a == "--seconds") seconds = std::atof(argv[++i]);
        else if (a == "--threads") threads = std::atoi(argv[++i]);
        else return usage();
    }
    if (shooters < 1 || seconds <= 0 || threads < 1) return usage();

    const fs::path file = fs::temp_directory_path() / ("page_bench_" + std::to_string(shooters) + ".mdb");
    ringolan::demo::write_demo(ringolan::demo::DemoOptions{shooters, 1, true}, file);
    const auto t0 = Clock::now();
    Current current;
    current.set(build(file, 1));
    std::printf("demo %d shooters, %ju bytes; snapshot built in %.0f ms\n", shooters, uintmax_t(fs::file_size(file)),
                std::chrono::duration<double, std::milli>(Clock::now() - t0).count());

    const Run one = measure(current, file, 1, seconds, false);
    std::printf("page %zu bytes\n", one.page_bytes);
    print("fixed snapshot", 1, one);
    if (threads > 1) print("fixed snapshot", threads, measure(current, file, threads, seconds, false));
    print("swap every second", 1, measure(current, file, 1, seconds, true));
    if (threads > 1) print("swap every second", threads, measure(current, file, threads, seconds, true));
    fs::remove(file);
    return 0;
}
