// soak_client: loopback HTTP load on the page server like phones on a competition day. Finds
// real addresses by crawling the server's links from /start.php, then requests them for a
// while from many connections at once ("Connection: close", one request per connection),
// weighted like a competition. Every answer is checked: a complete 200 answer, and the
// generation markers ("~R17~") in its bytes, of which one page must never show two rounds.
//   soak_client --port P [--seconds S] [--threads T] [--connections C] [--per-page N]
//               [--seen FILE]
// Prints per-page counts and latencies, the newest round seen over time and a last line
// "SOAK answers=... failures=... torn=... rps=... p99_ms=..."; exits 1 on any failure or torn
// page, 2 on a usage or start-up error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/soak_marker.h"
#include "bench/soak_pages.h"
#include "tests/site_crawl/crawl.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace crawl = ringolan::crawl;
namespace soak = ringolan::soak;

using soak::kPageCount;
using soak::kPages;
using soak::page_of;
using soak::is_frame_page;

struct Options {
    int port = 0;
    double seconds = 60;
    int threads = 2;
    int connections = 4;
    size_t per_page = 300;
    std::string seen_file;
};

struct Answer {
    bool ok = false;
    std::string error;  // why it is not a complete 200 answer
    crawl::Response response;
};

Answer get(int port, const std::string& target) {
    Answer a;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        a.error = std::string("socket: ") + std::strerror(errno);
        return a;
    }
    timeval limit{15, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        a.error = std::string("connect: ") + std::strerror(errno);
        ::close(fd);
        return a;
    }
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nUser-Agent: soak_client\r\nConnection: close\r\n\r\n";
    size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            a.error = std::string("send: ") + std::strerror(errno);
            ::close(fd);
            return a;
        }
        sent += static_cast<size_t>(n);
    }
    std::string raw;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            a.error = std::string("recv: ") + std::strerror(errno);
            break;
        }
        raw.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    a.response = crawl::parse_response(raw);
    if (!a.error.empty()) return a;
    if (a.response.status == 0) a.error = "no HTTP answer (" + std::to_string(raw.size()) + " bytes)";
    else if (a.response.status != 200) a.error = "status " + std::to_string(a.response.status);
    else if (a.response.content_length < 0) a.error = "no Content-Length";
    else if (static_cast<long long>(a.response.body.size()) != a.response.content_length)
        a.error = "body " + std::to_string(a.response.body.size()) + " of " + std::to_string(a.response.content_length) + " bytes";
    a.ok = a.error.empty();
    return a;
}

// Up to `per_page` addresses of each page, found from /start.php through the frame pages.
std::vector<std::vector<std::string>> collect_addresses(const Options& o) {
    std::map<int, size_t> taken;
    size_t frames = 0;
    crawl::CrawlOptions co;
    co.max_addresses = o.per_page * kPageCount + 500;
    co.follow = [&](const std::string& address) {
        if (is_frame_page(address)) return frames++ < 200;
        const int page = page_of(address);
        return page >= 0 && taken[page]++ < o.per_page;
    };
    const auto result = crawl::crawl({"/start.php"}, [&](const std::string& address) {
        return get(o.port, crawl::request_target(address)).response;
    }, co);
    std::vector<std::vector<std::string>> lists(kPageCount);
    for (const auto& visit : result.visits) {
        const int page = page_of(visit.address);
        if (page >= 0 && visit.response.status == 200) lists[page].push_back(crawl::request_target(visit.address));
    }
    return lists;
}

struct PageStats {
    uint64_t answers = 0, failures = 0, unmarked = 0;
    std::vector<uint32_t> micros;
    std::string unmarked_example;  // an address whose page showed no marker
};

struct Shared {
    std::atomic<uint64_t> torn{0};
    std::atomic<uint32_t> newest{0};
    std::mutex mutex;  // guards the lists below
    std::vector<std::string> torn_examples, failure_examples;
    std::vector<std::pair<double, uint32_t>> first_seen;  // (seconds since start, round), rising rounds
    std::map<std::string, uint64_t> failure_kinds;
};

struct Worker {
    std::vector<PageStats> pages = std::vector<PageStats>(kPageCount);
    std::vector<uint32_t> newest_by_second, answers_by_second, failures_by_second;
};

void run_worker(const Options& o, const std::vector<std::vector<std::string>>& lists, Clock::time_point start,
                unsigned seed, Shared& shared, Worker& w) {
    std::mt19937_64 rng(seed);
    std::vector<double> weights;
    for (int i = 0; i < kPageCount; ++i) weights.push_back(lists[i].empty() ? 0 : kPages[i].weight);
    std::discrete_distribution<int> pick_page(weights.begin(), weights.end());
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    const size_t slots = static_cast<size_t>(o.seconds) + 2;
    w.newest_by_second.assign(slots, 0);
    w.answers_by_second.assign(slots, 0);
    w.failures_by_second.assign(slots, 0);
    while (Clock::now() < end) {
        const int page = pick_page(rng);
        const auto& list = lists[page];
        const std::string& target = list[std::uniform_int_distribution<size_t>(0, list.size() - 1)(rng)];
        const auto t0 = Clock::now();
        const Answer a = get(o.port, target);
        const auto t1 = Clock::now();
        const double at = std::chrono::duration<double>(t1 - start).count();
        const size_t second = std::min(w.newest_by_second.size() - 1, static_cast<size_t>(at));
        PageStats& ps = w.pages[page];
        ++ps.answers;
        ++w.answers_by_second[second];
        ps.micros.push_back(static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(t1 - t0).count()));
        if (!a.ok) {
            ++ps.failures;
            ++w.failures_by_second[second];
            std::lock_guard lock(shared.mutex);
            ++shared.failure_kinds[a.error];
            if (shared.failure_examples.size() < 5) shared.failure_examples.push_back(target + " (" + a.error + ")");
            continue;
        }
        const auto rounds = soak::find_rounds(a.response.body);
        if (rounds.empty()) {
            if (ps.unmarked++ == 0) ps.unmarked_example = target;
            continue;
        }
        if (rounds.size() > 1) {
            shared.torn++;
            std::lock_guard lock(shared.mutex);
            if (shared.torn_examples.size() < 5) {
                std::string seen;
                for (uint32_t r : rounds) seen += " " + std::to_string(r);
                shared.torn_examples.push_back(target + " (rounds" + seen + ")");
            }
        }
        const uint32_t round = *rounds.rbegin();
        w.newest_by_second[second] = std::max(w.newest_by_second[second], round);
        uint32_t known = shared.newest.load();
        while (round > known) {
            if (shared.newest.compare_exchange_weak(known, round)) {
                std::lock_guard lock(shared.mutex);
                shared.first_seen.emplace_back(at, round);
                break;
            }
        }
    }
}

double ms(uint32_t micros) { return micros / 1000.0; }

bool parse_args(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        try {
            if (arg == "--port") o.port = std::stoi(value);
            else if (arg == "--seconds") o.seconds = std::stod(value);
            else if (arg == "--threads") o.threads = std::stoi(value);
            else if (arg == "--connections") o.connections = std::stoi(value);
            else if (arg == "--per-page") o.per_page = std::stoul(value);
            else if (arg == "--seen") o.seen_file = value;
            else return false;
        } catch (const std::exception&) {
            return false;
        }
    }
    return o.port > 0 && o.port < 65536 && o.seconds > 0 && o.threads > 0 && o.connections > 0 && o.per_page > 0;
}

// The per-page table; returns the totals and every answer's time.
struct Totals {
    uint64_t answers = 0, failures = 0;
    std::vector<uint32_t> micros;
    std::vector<std::string> unmarked_examples;
};

Totals print_pages(const std::vector<Worker>& workers) {
    std::printf("\n%-11s %9s %9s %10s %8s %8s %8s\n", "page", "answers", "failures", "unmarked", "p50_ms", "p99_ms", "max_ms");
    Totals t;
    for (int p = 0; p < kPageCount; ++p) {
        PageStats s;
        for (auto& w : workers) {
            s.answers += w.pages[p].answers;
            s.failures += w.pages[p].failures;
            s.unmarked += w.pages[p].unmarked;
            if (s.unmarked_example.empty()) s.unmarked_example = w.pages[p].unmarked_example;
            s.micros.insert(s.micros.end(), w.pages[p].micros.begin(), w.pages[p].micros.end());
        }
        t.answers += s.answers;
        t.failures += s.failures;
        if (!s.unmarked_example.empty()) t.unmarked_examples.push_back(s.unmarked_example);
        t.micros.insert(t.micros.end(), s.micros.begin(), s.micros.end());
        std::printf("%-11s %9llu %9llu %10llu %8.1f %8.1f %8.1f\n", kPages[p].name,
                    static_cast<unsigned long long>(s.answers), static_cast<unsigned long long>(s.failures),
                    static_cast<unsigned long long>(s.unmarked), ms(soak::nearest_rank(s.micros, 0.5)),
                    ms(soak::nearest_rank(s.micros, 0.99)), ms(soak::nearest_rank(s.micros, 1.0)));
    }
    return t;
}

// Newest round seen, answers and failures, per second of the load.
struct BySecond {
    std::vector<uint32_t> newest, answers, failures;
};

BySecond per_second(const std::vector<Worker>& workers, size_t slots) {
    BySecond b{std::vector<uint32_t>(slots, 0), std::vector<uint32_t>(slots, 0), std::vector<uint32_t>(slots, 0)};
    for (const auto& w : workers)
        for (size_t s = 0; s < slots; ++s) {
            b.newest[s] = std::max(b.newest[s], w.newest_by_second[s]);
            b.answers[s] += w.answers_by_second[s];
            b.failures[s] += w.failures_by_second[s];
        }
    std::printf("newest round seen by second:");
    for (size_t s = 0; s < b.newest.size(); s += 10) {
        uint32_t newest = 0;
        for (size_t k = s; k < std::min(b.newest.size(), s + 10); ++k) newest = std::max(newest, b.newest[k]);
        std::printf(" %zu:%u", s, newest);
    }
    std::printf("\n");
    return b;
}

// For the script, in wall-clock ms since the epoch: "seen MS ROUND" when a newer round was first
// seen, "second MS ANSWERS FAILURES NEWEST" for each second of the load.
void write_seen_file(const std::string& file, Shared& shared, const BySecond& b,
                     std::chrono::system_clock::time_point wall_start, double elapsed) {
    std::sort(shared.first_seen.begin(), shared.first_seen.end(),
              [](const auto& x, const auto& y) { return x.second < y.second; });
    std::ofstream out(file);
    const auto origin = std::chrono::duration_cast<std::chrono::milliseconds>(wall_start.time_since_epoch()).count();
    for (const auto& [at, round] : shared.first_seen)
        out << "seen " << origin + static_cast<long long>(at * 1000) << ' ' << round << '\n';
    for (size_t s = 0; s < b.newest.size() && static_cast<double>(s) < elapsed; ++s)
        out << "second " << origin + static_cast<long long>(s) * 1000 << ' ' << b.answers[s] << ' ' << b.failures[s]
            << ' ' << b.newest[s] << '\n';
}

// The crawled addresses of every page; false (with a line) when a page has none.
bool report_crawl(const std::vector<std::vector<std::string>>& lists, Clock::time_point crawl_start, size_t& addresses) {
    addresses = 0;
    bool missing = false;
    for (int i = 0; i < kPageCount; ++i) {
        addresses += lists[i].size();
        if (lists[i].empty()) {
            std::printf("soak_client: no address of %s found\n", kPages[i].name);
            missing = true;
        }
    }
    std::printf("crawl: %zu addresses of %d pages in %.1f s\n", addresses, kPageCount,
                std::chrono::duration<double>(Clock::now() - crawl_start).count());
    return !missing && addresses > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse_args(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: soak_client --port P [--seconds S] [--threads T] [--connections C] [--per-page N] "
                     "[--seen FILE]\n");
        return 2;
    }
    const auto crawl_start = Clock::now();
    const auto lists = collect_addresses(o);
    size_t addresses = 0;
    if (!report_crawl(lists, crawl_start, addresses)) return 2;

    const int workers_n = o.threads * o.connections;
    std::printf("load: %d threads x %d connections = %d connections for %.0f s\n", o.threads, o.connections, workers_n,
                o.seconds);
    std::fflush(stdout);
    Shared shared;
    std::vector<Worker> workers(static_cast<size_t>(workers_n));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    const auto wall_start = std::chrono::system_clock::now();
    for (int i = 0; i < workers_n; ++i)
        threads.emplace_back(run_worker, std::cref(o), std::cref(lists), start, 1000u + static_cast<unsigned>(i),
                             std::ref(shared), std::ref(workers[i]));
    for (auto& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    Totals t = print_pages(workers);
    const double p50 = ms(soak::nearest_rank(t.micros, 0.5)), p99 = ms(soak::nearest_rank(t.micros, 0.99)),
                 max = ms(soak::nearest_rank(t.micros, 1.0));
    const double rps = t.answers / elapsed;
    const uint64_t torn = shared.torn.load();
    std::printf("all         %9llu %9llu %10s %8.1f %8.1f %8.1f\n", static_cast<unsigned long long>(t.answers),
                static_cast<unsigned long long>(t.failures), "", p50, p99, max);
    std::printf("\n%.1f answers/s over %.1f s; %llu failures; %llu torn pages\n", rps, elapsed,
                static_cast<unsigned long long>(t.failures), static_cast<unsigned long long>(torn));
    for (const auto& [kind, n] : shared.failure_kinds)
        std::printf("  failure: %s (%llu times)\n", kind.c_str(), static_cast<unsigned long long>(n));
    for (const auto& e : shared.failure_examples) std::printf("  failed: %s\n", e.c_str());
    for (const auto& e : shared.torn_examples) std::printf("  torn: %s\n", e.c_str());
    for (const auto& e : t.unmarked_examples) std::printf("  without a marker: %s\n", e.c_str());
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double client_cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;

    const BySecond by_second = per_second(workers, static_cast<size_t>(o.seconds) + 2);
    if (!o.seen_file.empty()) write_seen_file(o.seen_file, shared, by_second, wall_start, elapsed);

    std::printf("SOAK answers=%llu failures=%llu torn=%llu rps=%.1f p50_ms=%.1f p99_ms=%.1f max_ms=%.1f newest_round=%u "
                "addresses=%zu connections=%d seconds=%.1f client_cpu_s=%.1f\n",
                static_cast<unsigned long long>(t.answers), static_cast<unsigned long long>(t.failures),
                static_cast<unsigned long long>(torn), rps, p50, p99, max, shared.newest.load(), addresses, workers_n,
                elapsed, client_cpu);
    return t.failures == 0 && torn == 0 ? 0 : 1;
}
