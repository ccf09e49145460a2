// Careless and hostile clients against a page server on the loopback interface: opens a mix of
// connections, holds them for a while and reconnects every one the server cuts off.
//   idle      connects and sends nothing
//   slow      sends a valid request line (then header bytes) one byte per second
//   endless   sends "GET / HTTP/1.1" and then header lines as fast as the server takes them,
//             never the blank line
//   slowread  sends a request for a large file and never reads the answer
//   eventstall opens an event stream (GET /api/v1/events) and never reads; reconnects when the
//             server visibly ends it
// A server's close stays invisible behind unread data, so a slowread connection is dropped and
// reopened after --hold seconds unless the server visibly ended it earlier.
// One thread, epoll. Prints the state every few seconds and one "RESULT ..." line at the end.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

enum Kind { kIdle, kSlow, kEndless, kSlowread, kEventstall, kKinds };
constexpr std::array<const char*, kKinds> kKindNames{"idle", "slow", "endless", "slowread", "eventstall"};

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    std::array<std::size_t, kKinds> counts{};
    double seconds = 60;
    double warmup = 2;      // seconds before the connected count is averaged
    double report = 5;      // seconds between state lines
    double hold = 20;       // seconds a slowread connection is kept
    std::string slow_path = "/vstbl.php";
    std::string large_path = "/large.bin";
    std::string events_path = "/api/v1/events";
};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "hostile_clients: %s\n"
                 "usage: hostile_clients --port P [--host 127.0.0.1] [--idle N] [--slow N] [--endless N]\n"
                 "                       [--slowread N] [--eventstall N] [--seconds S] [--warmup S] [--report S]\n"
                 "                       [--hold S] [--slow-path /p] [--large-path /file] [--events-path /p]\n",
                 why);
    std::exit(2);
}

double number(const char* text, const char* name) {
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || value < 0) usage((std::string("bad value for ") + name).c_str());
    return value;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (i + 1 >= argc) usage(("missing value for " + std::string(arg)).c_str());
        const char* value = argv[++i];
        bool counted = false;
        for (int k = 0; k < kKinds; ++k)
            if (arg == std::string("--") + kKindNames[k]) {
                o.counts[k] = static_cast<std::size_t>(number(value, argv[i - 1]));
                counted = true;
            }
        if (counted) continue;
        if (arg == "--host") o.host = value;
        else if (arg == "--port") o.port = static_cast<uint16_t>(number(value, "--port"));
        else if (arg == "--seconds") o.seconds = number(value, "--seconds");
        else if (arg == "--warmup") o.warmup = number(value, "--warmup");
        else if (arg == "--report") o.report = number(value, "--report");
        else if (arg == "--hold") o.hold = number(value, "--hold");
        else if (arg == "--slow-path") o.slow_path = value;
        else if (arg == "--large-path") o.large_path = value;
        else if (arg == "--events-path") o.events_path = value;
        else usage(("unknown option " + std::string(arg)).c_str());
    }
    if (o.port == 0) usage("--port is required");
    if (o.report <= 0) o.report = 5;
    return o;
}

enum class State { closed, connecting, open };

struct Conn {
    int fd = -1;
    Kind kind = kIdle;
    State state = State::closed;
    uint32_t generation = 0;
    std::size_t sent = 0;            // slow: bytes sent; endless: header lines made
    std::string pending;             // endless: bytes the socket did not take yet
    Clock::time_point retry_at{};    // when closed: next connect attempt
    Clock::time_point opened_at{};
};

struct Counters {
    std::array<std::size_t, kKinds> open{};
    std::array<std::size_t, kKinds> cut_off{};
    std::array<std::size_t, kKinds> recycled{};
    std::size_t connect_errors = 0;
    double connected_sum = 0;        // sampled after the warm-up
    std::size_t samples = 0;
    std::size_t connected_min = SIZE_MAX;
};

class Swarm {
public:
    explicit Swarm(const Options& options) : o_(options) {
        std::memset(&address_, 0, sizeof address_);
        address_.sin_family = AF_INET;
        address_.sin_port = htons(o_.port);
        if (::inet_pton(AF_INET, o_.host.c_str(), &address_.sin_addr) != 1) usage("--host must be an IPv4 address");
        if ((ntohl(address_.sin_addr.s_addr) >> 24) != 127) usage("--host must be a loopback address (127.x.x.x)");
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0) throw std::runtime_error(std::string("epoll_create1: ") + std::strerror(errno));
        slow_request_ = "GET " + o_.slow_path + " HTTP/1.1\r\nHost: range\r\n";
        large_request_ = "GET " + o_.large_path + " HTTP/1.1\r\nHost: range\r\n\r\n";
        events_request_ = "GET " + o_.events_path + " HTTP/1.1\r\n\r\n";
        for (int k = 0; k < kKinds; ++k)
            for (std::size_t i = 0; i < o_.counts[k]; ++i) {
                conns_.emplace_back();
                conns_.back().kind = Kind(k);
            }
    }
    ~Swarm() {
        for (Conn& c : conns_)
            if (c.fd >= 0) ::close(c.fd);
        ::close(epoll_);
    }

    int run(const volatile std::sig_atomic_t& interrupted) {
        const auto start = Clock::now();
        const auto end = start + to_duration(o_.seconds);
        const auto warm = start + to_duration(o_.warmup);
        auto next_tick = start;
        auto next_sample = start;
        auto next_report = start + to_duration(o_.report);
        std::array<epoll_event, 512> events{};
        while (!interrupted) {
            auto now = Clock::now();
            if (now >= end) break;
            if (now >= next_tick) {  // once a second: slow bytes, reconnects, slowread hold ends
                tick(now);
                next_tick += 1s;
            }
            if (now >= next_sample) {  // every 100 ms: failed connects retried, the mean sampled
                reconnect_due(now);
                if (now >= warm) sample();
                next_sample += 100ms;
            }
            if (now >= next_report) {
                report(now - start);
                next_report += to_duration(o_.report);
            }
            int n = ::epoll_wait(epoll_, events.data(), int(events.size()), 100);
            if (n < 0 && errno != EINTR) throw std::runtime_error(std::string("epoll_wait: ") + std::strerror(errno));
            for (int i = 0; i < n; ++i) on_event(events[i]);
        }
        report(Clock::now() - start);
        result();
        return 0;
    }

private:
    static Clock::duration to_duration(double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }
    static uint64_t key(std::size_t index, uint32_t generation) { return (uint64_t(generation) << 32) | index; }

    std::size_t connected() const {
        std::size_t total = 0;
        for (auto n : counters_.open) total += n;
        return total;
    }

    void open(std::size_t index) {
        Conn& c = conns_[index];
        c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (c.fd < 0) return fail(index);
        ++c.generation;
        c.sent = 0;
        c.pending.clear();
        if (c.kind == kSlowread || c.kind == kEventstall) {  // a small window fills soon and keeps the server waiting
            int size = 4096;
            ::setsockopt(c.fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        int rc = ::connect(c.fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
        if (rc != 0 && errno != EINPROGRESS) return fail(index);
        c.state = State::connecting;
        epoll_event ev{};
        ev.events = EPOLLOUT;
        ev.data.u64 = key(index, c.generation);
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, c.fd, &ev) != 0) return fail(index);
    }

    // A connect that did not succeed: retried half a second later.
    void fail(std::size_t index) {
        ++counters_.connect_errors;
        drop(index);
        conns_[index].retry_at = Clock::now() + 500ms;
    }

    void drop(std::size_t index) {
        Conn& c = conns_[index];
        if (c.state == State::open) --counters_.open[c.kind];
        if (c.fd >= 0) ::close(c.fd);  // also removes it from the epoll set
        c.fd = -1;
        c.state = State::closed;
        c.retry_at = Clock::now();
    }

    void cut(std::size_t index) {
        ++counters_.cut_off[conns_[index].kind];
        drop(index);
        open(index);  // straight back, as an attacker would
    }

    void established(std::size_t index) {
        Conn& c = conns_[index];
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return fail(index);
        c.state = State::open;
        c.opened_at = Clock::now();
        ++counters_.open[c.kind];
        epoll_event ev{};
        ev.data.u64 = key(index, c.generation);
        switch (c.kind) {
            case kIdle:
            case kSlow: ev.events = EPOLLIN | EPOLLRDHUP; break;
            case kEndless: ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET; break;
            case kSlowread:
            case kEventstall: ev.events = EPOLLRDHUP | EPOLLET; break;
            case kKinds: break;
        }
        ::epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
        if (c.kind == kSlow) send_slow_byte(index);
        if (c.kind == kSlowread && !send_all(c.fd, large_request_)) return cut(index);
        if (c.kind == kEventstall && !send_all(c.fd, events_request_)) return cut(index);
        if (c.kind == kEndless) pour(index);
    }

    static bool send_all(int fd, std::string_view bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }

    // The slow stream: the request line and a host header, then one more header line over and
    // over; the blank line never comes.
    void send_slow_byte(std::size_t index) {
        Conn& c = conns_[index];
        static constexpr std::string_view kFiller = "X-s: 1\r\n";
        char byte = c.sent < slow_request_.size() ? slow_request_[c.sent]
                                                  : kFiller[(c.sent - slow_request_.size()) % kFiller.size()];
        ssize_t n = ::send(c.fd, &byte, 1, MSG_NOSIGNAL);
        if (n == 1) ++c.sent;
        else if (n < 0 && errno != EAGAIN) cut(index);
    }

    // Endless headers: writes until the socket is full; the next EPOLLOUT edge continues.
    void pour(std::size_t index) {
        Conn& c = conns_[index];
        if (c.sent == 0 && c.pending.empty()) c.pending = "GET / HTTP/1.1\r\n";
        for (;;) {
            while (c.pending.size() < 8192) {
                c.pending += "X-a" + std::to_string(c.sent++) + ": ";
                c.pending.append(64, 'b');
                c.pending += "\r\n";
            }
            ssize_t n = ::send(c.fd, c.pending.data(), c.pending.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN) return;
                return cut(index);
            }
            c.pending.erase(0, std::size_t(n));
        }
    }

    void on_event(const epoll_event& ev) {
        std::size_t index = std::size_t(ev.data.u64 & 0xffffffffu);
        uint32_t generation = uint32_t(ev.data.u64 >> 32);
        if (index >= conns_.size()) return;
        Conn& c = conns_[index];
        if (c.generation != generation || c.fd < 0) return;  // an earlier socket of this slot
        if (c.state == State::connecting) {
            if (ev.events & (EPOLLERR | EPOLLHUP)) return fail(index);
            return established(index);
        }
        if (ev.events & (EPOLLERR | EPOLLHUP | EPOLLRDHUP)) return cut(index);
        if (ev.events & EPOLLIN) {
            char buf[4096];
            ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN)) return cut(index);
        }
        if (c.kind == kEndless && (ev.events & EPOLLOUT)) pour(index);
    }

    void tick(Clock::time_point now) {
        for (std::size_t i = 0; i < conns_.size(); ++i) {
            Conn& c = conns_[i];
            if (c.state != State::open) continue;
            if (c.kind == kSlow) send_slow_byte(i);
            else if (c.kind == kSlowread && now - c.opened_at >= to_duration(o_.hold)) {
                ++counters_.recycled[kSlowread];
                drop(i);
                open(i);
            }
        }
    }

    void reconnect_due(Clock::time_point now) {
        for (std::size_t i = 0; i < conns_.size(); ++i)
            if (conns_[i].state == State::closed && conns_[i].retry_at <= now) open(i);
    }

    void sample() {
        std::size_t n = connected();
        counters_.connected_sum += double(n);
        ++counters_.samples;
        if (n < counters_.connected_min) counters_.connected_min = n;
    }

    void report(Clock::duration elapsed) {
        double t = std::chrono::duration<double>(elapsed).count();
        std::string line = "t=" + std::to_string(int(t + 0.5)) + "s connected " + std::to_string(connected()) + "/" +
                           std::to_string(conns_.size()) + " (";
        std::string cut = "cut off by the server:";
        for (int k = 0; k < kKinds; ++k) {
            if (o_.counts[k] == 0) continue;
            line += std::string(kKindNames[k]) + " " + std::to_string(counters_.open[k]) + " ";
            cut += " " + std::string(kKindNames[k]) + " " + std::to_string(counters_.cut_off[k]);
        }
        line.back() = ')';
        std::fprintf(stderr, "%s, %s, connect errors %zu\n", line.c_str(), cut.c_str(), counters_.connect_errors);
    }

    void result() {
        double mean = counters_.samples ? counters_.connected_sum / double(counters_.samples) : double(connected());
        std::size_t min = counters_.samples ? counters_.connected_min : connected();
        std::string line = "RESULT";
        for (int k = 0; k < kKinds; ++k) line += " " + std::string(kKindNames[k]) + "=" + std::to_string(o_.counts[k]);
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, " connected_mean=%.1f connected_min=%zu", mean, min);
        line += numbers;
        std::size_t cut_total = 0;
        for (int k = 0; k < kKinds; ++k) {
            line += " cut_" + std::string(kKindNames[k]) + "=" + std::to_string(counters_.cut_off[k]);
            cut_total += counters_.cut_off[k];
        }
        line += " cut_off=" + std::to_string(cut_total) + " recycled=" + std::to_string(counters_.recycled[kSlowread]) +
                " connect_errors=" + std::to_string(counters_.connect_errors);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    Options o_;
    sockaddr_in address_{};
    int epoll_ = -1;
    std::string slow_request_;
    std::string large_request_;
    std::string events_request_;
    std::vector<Conn> conns_;
    Counters counters_;
};

volatile std::sig_atomic_t g_interrupted = 0;

void raise_file_limit(std::size_t wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    if (limit.rlim_cur >= wanted) return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < wanted)
        std::fprintf(stderr, "hostile_clients: only %llu file descriptors allowed, %zu wanted\n",
                     static_cast<unsigned long long>(limit.rlim_cur), wanted);
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    std::size_t total = 0;
    for (auto n : options.counts) total += n;
    if (total == 0) usage("no connections asked for");
    raise_file_limit(total + 64);
    struct sigaction action {};
    action.sa_handler = [](int) { g_interrupted = 1; };
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        Swarm swarm(options);
        return swarm.run(g_interrupted);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hostile_clients: %s\n", e.what());
        return 1;
    }
}
