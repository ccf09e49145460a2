// The pace of the live simulator and its progress lines.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "tools/mkdemo/live.h"

namespace ringolan::demo {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLongestSleep = std::chrono::milliseconds(50);  // how late a stop is noticed

void print_progress(std::FILE* out, const LiveOptions& o, double seconds, const LiveCounts& c) {
    if (!out) return;
    std::fprintf(out, "%s: %.0f s, %ju changes, %ju pages written\n", o.file.string().c_str(), seconds,
                 static_cast<uintmax_t>(c.changes), static_cast<uintmax_t>(c.pages));
    std::fflush(out);
}

// The number of changes to make; nullopt: until stopped.
std::optional<uint64_t> change_limit(const LiveOptions& o) {
    std::optional<uint64_t> limit = o.changes;
    if (o.seconds && o.per_second > 0) {
        const auto timed = static_cast<uint64_t>(std::llround(*o.seconds * o.per_second));
        limit = limit ? std::min(*limit, timed) : timed;
    }
    return limit;
}

}  // namespace

LiveSummary run_live(const LiveOptions& o, const std::atomic<bool>& stop, std::FILE* progress,
                     Simulator::PageHook after_page_write) {
    Simulator sim(o.file, o.seed, std::move(after_page_write));
    sim.repair();
    const std::optional<uint64_t> limit = change_limit(o);
    const Clock::time_point start = Clock::now();
    Clock::time_point next_report = start + std::chrono::seconds(1);
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    auto report_when_due = [&] {
        if (Clock::now() < next_report) return;
        print_progress(progress, o, std::floor(elapsed()), sim.counts());
        while (next_report <= Clock::now()) next_report += std::chrono::seconds(1);
    };
    LiveSummary summary;
    for (uint64_t k = 0; !limit || k < *limit; ++k) {
        if (o.per_second > 0) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(k / o.per_second));
            while (!stop && Clock::now() < due) {
                std::this_thread::sleep_until(std::min({due, next_report, Clock::now() + kLongestSleep}));
                report_when_due();
            }
        }
        if (stop) {
            summary.interrupted = true;
            break;
        }
        if (!sim.step()) {
            summary.exhausted = true;
            break;
        }
        if (o.trace) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch());
            std::fprintf(o.trace, "%lld %s\n", static_cast<long long>(ms.count()), sim.last_change().c_str());
            std::fflush(o.trace);
        }
        report_when_due();
    }
    summary.counts = sim.counts();
    summary.seconds = elapsed();
    return summary;
}

}  // namespace ringolan::demo
