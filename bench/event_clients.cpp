// Event-stream clients against a page server on the loopback interface: opens N connections to
// /api/v1/events (at most --in-flight of them connecting at a time, so the listen queue is not
// flooded), parses each stream's events and records the steady-clock time at which each client
// received each `data: {"state": N}`. A stream the server ends is reopened after its "retry:"
// time with Last-Event-ID; a 503 counts as refused and is not retried.
// One thread, epoll. Prints to stdout:
//   SETTLED ...   once every client is streaming, refused or failed
//   STATE n=N ... once per state, when every streaming client has it or --state-wait passed
//   RESULT ...    at the end (time up, SIGINT/SIGTERM, or --expect-state reached), for the
//                 newest state: first receipt, spread of the receipts over clients, missing
// Progress goes to stderr every --report seconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    std::size_t clients = 0;
    double seconds = 60;
    uint64_t expect_state = 0;  // 0: run for --seconds
    std::size_t in_flight = 64;
    double state_wait = 10;     // seconds after a state's first receipt before its line is printed anyway
    double report = 5;
    std::string path = "/api/v1/events";
};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "event_clients: %s\n"
                 "usage: event_clients --port P --clients N [--host 127.0.0.1] [--seconds S] [--expect-state N]\n"
                 "                     [--in-flight K] [--state-wait S] [--report S] [--path /api/v1/events]\n",
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
        if (arg == "--host") o.host = value;
        else if (arg == "--port") o.port = static_cast<uint16_t>(number(value, "--port"));
        else if (arg == "--clients") o.clients = static_cast<std::size_t>(number(value, "--clients"));
        else if (arg == "--seconds") o.seconds = number(value, "--seconds");
        else if (arg == "--expect-state") o.expect_state = static_cast<uint64_t>(number(value, "--expect-state"));
        else if (arg == "--in-flight") o.in_flight = static_cast<std::size_t>(number(value, "--in-flight"));
        else if (arg == "--state-wait") o.state_wait = number(value, "--state-wait");
        else if (arg == "--report") o.report = number(value, "--report");
        else if (arg == "--path") o.path = value;
        else usage(("unknown option " + std::string(arg)).c_str());
    }
    if (o.port == 0) usage("--port is required");
    if (o.clients == 0) usage("--clients must be at least 1");
    if (o.in_flight == 0) o.in_flight = 1;
    if (o.report <= 0) o.report = 5;
    return o;
}

Clock::duration to_duration(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

double ms_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Nearest rank of a sorted list; 0 when empty.
double nearest_rank(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    std::size_t rank = std::size_t(std::ceil(p * double(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

enum class Phase { waiting, connecting, head, stream, refused, failed };

struct Receipt {
    uint64_t state;
    Clock::time_point at;
};

struct Client {
    int fd = -1;
    Phase phase = Phase::waiting;
    uint32_t generation = 0;
    Clock::time_point retry_at{};
    std::chrono::milliseconds retry{3000};  // from the stream's "retry:" field
    std::string input;                      // bytes not parsed yet
    std::string event, data, id;            // the event being read
    std::string last_id;
    std::vector<Receipt> receipts;          // the first receipt of each state, in order

    bool has(uint64_t state) const {
        for (const Receipt& r : receipts)
            if (r.state == state) return true;
        return false;
    }
};

// The first receipt of a state by any client, on both clocks.
struct StateSeen {
    Clock::time_point first{};
    std::chrono::system_clock::time_point first_wall{};
    bool reported = false;
};

struct Figures {
    std::size_t received = 0, missing = 0;
    double p50 = 0, p99 = 0, max = 0;
};

class Listeners {
public:
    explicit Listeners(const Options& options) : o_(options), clients_(options.clients) {
        std::memset(&address_, 0, sizeof address_);
        address_.sin_family = AF_INET;
        address_.sin_port = htons(o_.port);
        if (::inet_pton(AF_INET, o_.host.c_str(), &address_.sin_addr) != 1) usage("--host must be an IPv4 address");
        if ((ntohl(address_.sin_addr.s_addr) >> 24) != 127) usage("--host must be a loopback address (127.x.x.x)");
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0) throw std::runtime_error(std::string("epoll_create1: ") + std::strerror(errno));
    }
    ~Listeners() {
        for (Client& c : clients_)
            if (c.fd >= 0) ::close(c.fd);
        ::close(epoll_);
    }

    int run(const volatile std::sig_atomic_t& interrupted) {
        start_ = Clock::now();
        const auto end = start_ + to_duration(o_.seconds);
        auto next_check = start_;
        auto next_report = start_ + to_duration(o_.report);
        std::array<epoll_event, 512> events{};
        while (!interrupted && !done_) {
            auto now = Clock::now();
            if (now >= end) break;
            open_due(now);
            const int n = ::epoll_wait(epoll_, events.data(), int(events.size()), 20);
            if (n < 0 && errno != EINTR) throw std::runtime_error(std::string("epoll_wait: ") + std::strerror(errno));
            for (int i = 0; i < n; ++i) on_event(events[i]);
            now = Clock::now();
            if (now >= next_check) {
                check_states(now);
                next_check = now + 20ms;
            }
            if (now >= next_report) {
                report(now);
                next_report += to_duration(o_.report);
            }
        }
        report(Clock::now());
        result();
        return 0;
    }

private:
    static uint64_t key(std::size_t index, uint32_t generation) { return (uint64_t(generation) << 32) | index; }

    std::size_t count(Phase phase) const {
        std::size_t n = 0;
        for (const Client& c : clients_) n += c.phase == phase;
        return n;
    }

    // New connections while fewer than --in-flight are still connecting or waiting for the head.
    void open_due(Clock::time_point now) {
        for (std::size_t i = next_open_; in_flight_ < o_.in_flight && i < clients_.size(); ++i) {
            Client& c = clients_[i];
            if (c.phase == Phase::waiting && c.retry_at <= now) open(i);
        }
        while (next_open_ < clients_.size() && clients_[next_open_].phase != Phase::waiting) ++next_open_;
        if (next_open_ == clients_.size()) {  // every first connect started: retries may sit anywhere
            for (std::size_t i = 0; in_flight_ < o_.in_flight && i < clients_.size(); ++i)
                if (clients_[i].phase == Phase::waiting && clients_[i].retry_at <= now) open(i);
        }
    }

    void open(std::size_t index) {
        Client& c = clients_[index];
        c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (c.fd < 0) return connect_failed(index);
        ++c.generation;
        c.input.clear();
        c.event.clear();
        c.data.clear();
        c.id.clear();
        const int rc = ::connect(c.fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
        if (rc != 0 && errno != EINPROGRESS) return connect_failed(index);
        c.phase = Phase::connecting;
        ++in_flight_;
        epoll_event ev{};
        ev.events = EPOLLOUT;
        ev.data.u64 = key(index, c.generation);
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, c.fd, &ev) != 0) return connect_failed(index);
    }

    void close_fd(Client& c) {
        if (c.phase == Phase::connecting || c.phase == Phase::head) --in_flight_;
        if (c.phase == Phase::stream) --streaming_;
        if (c.fd >= 0) ::close(c.fd);
        c.fd = -1;
    }

    // Not connected, or ended before its head: tried again half a second later.
    void connect_failed(std::size_t index) {
        ++connect_errors_;
        Client& c = clients_[index];
        close_fd(c);
        c.phase = Phase::waiting;
        c.retry_at = Clock::now() + 500ms;
    }

    void established(std::size_t index) {
        Client& c = clients_[index];
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return connect_failed(index);
        std::string request = "GET " + o_.path + " HTTP/1.1\r\nHost: " + o_.host + ":" + std::to_string(o_.port) +
                              "\r\nAccept: text/event-stream\r\n";
        if (!c.last_id.empty()) request += "Last-Event-ID: " + c.last_id + "\r\n";
        request += "\r\n";
        if (::send(c.fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
            return connect_failed(index);
        c.phase = Phase::head;
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u64 = key(index, c.generation);
        ::epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
    }

    void on_event(const epoll_event& ev) {
        const std::size_t index = std::size_t(ev.data.u64 & 0xffffffffu);
        const uint32_t generation = uint32_t(ev.data.u64 >> 32);
        if (index >= clients_.size()) return;
        Client& c = clients_[index];
        if (c.generation != generation || c.fd < 0) return;  // an earlier socket of this slot
        if (c.phase == Phase::connecting) {
            if (ev.events & (EPOLLERR | EPOLLHUP)) return connect_failed(index);
            return established(index);
        }
        char buf[16384];
        const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        const auto now = Clock::now();  // the receipt time of everything in this read
        if (n > 0) {
            c.input.append(buf, std::size_t(n));
            if (c.phase == Phase::head) read_head(index);
            if (c.phase == Phase::stream) read_events(c, now);
            return;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        ended(index);
    }

    // The server closed or reset the connection.
    void ended(std::size_t index) {
        Client& c = clients_[index];
        if (c.phase != Phase::stream) return connect_failed(index);
        ++dropped_;
        close_fd(c);
        c.phase = Phase::waiting;
        c.retry_at = Clock::now() + c.retry;
    }

    void read_head(std::size_t index) {
        Client& c = clients_[index];
        const std::size_t end = c.input.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (c.input.size() > 65536) return finish(index, Phase::failed);
            return;
        }
        int status = 0;
        std::sscanf(c.input.c_str(), "HTTP/1.%*d %d", &status);
        c.input.erase(0, end + 4);
        if (status == 503) return finish(index, Phase::refused);
        if (status != 200) {
            ++other_status_;
            return finish(index, Phase::failed);
        }
        --in_flight_;
        c.phase = Phase::stream;
        ++streaming_;
        ++connects_;
    }

    void finish(std::size_t index, Phase phase) {
        Client& c = clients_[index];
        close_fd(c);
        c.phase = phase;
    }

    // Lines end in "\n" (a "\r" before it is dropped); a blank line dispatches the event.
    void read_events(Client& c, Clock::time_point now) {
        std::size_t begin = 0;
        for (;;) {
            const std::size_t eol = c.input.find('\n', begin);
            if (eol == std::string::npos) break;
            std::string_view line(c.input.data() + begin, eol - begin);
            begin = eol + 1;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.empty()) {
                dispatch(c, now);
                continue;
            }
            if (line.front() == ':') {
                ++comments_;
                continue;
            }
            const std::size_t colon = line.find(':');
            std::string_view field = line.substr(0, colon), value;
            if (colon != std::string_view::npos) {
                value = line.substr(colon + 1);
                if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            }
            if (field == "event") c.event = value;
            else if (field == "id") c.id = value;
            else if (field == "data") {
                if (!c.data.empty()) c.data += '\n';
                c.data += value;
            } else if (field == "retry") {
                const long ms = std::strtol(std::string(value).c_str(), nullptr, 10);
                if (ms > 0) c.retry = std::chrono::milliseconds(ms);
            }
        }
        c.input.erase(0, begin);
    }

    void dispatch(Client& c, Clock::time_point now) {
        if (!c.id.empty()) c.last_id = c.id;
        if (c.event == "state") {
            static constexpr std::string_view kKey = "\"state\":";
            const std::size_t at = c.data.find(kKey);
            char* end = nullptr;
            const uint64_t state = at == std::string::npos ? 0 : std::strtoull(c.data.c_str() + at + kKey.size(), &end, 10);
            if (state == 0 || end == c.data.c_str() + at + kKey.size()) {
                ++bad_events_;
            } else {
                ++state_events_;
                if (!c.has(state)) {
                    c.receipts.push_back({state, now});
                    auto [it, inserted] = states_.try_emplace(state);
                    if (inserted) {
                        it->second.first = now;
                        it->second.first_wall = std::chrono::system_clock::now() - (Clock::now() - now);
                    }
                }
            }
        }
        c.event.clear();
        c.data.clear();
        c.id.clear();
    }

    Figures figures(uint64_t state) const {
        Figures f;
        const auto seen = states_.find(state);
        if (seen == states_.end()) {
            f.missing = streaming_;
            return f;
        }
        std::vector<double> spread;
        for (const Client& c : clients_) {
            bool got = false;
            for (const Receipt& r : c.receipts)
                if (r.state == state) {
                    spread.push_back(ms_between(seen->second.first, r.at));
                    got = true;
                }
            if (!got && c.phase == Phase::stream) ++f.missing;
        }
        std::sort(spread.begin(), spread.end());
        f.received = spread.size();
        f.p50 = nearest_rank(spread, 0.5);
        f.p99 = nearest_rank(spread, 0.99);
        f.max = nearest_rank(spread, 1.0);
        return f;
    }

    bool settled() const { return in_flight_ == 0 && count(Phase::waiting) == 0; }

    // A state's line once every streaming client has it (all clients settled) or its wait passed.
    void check_states(Clock::time_point now) {
        const bool all_settled = settled();
        if (all_settled && !settled_printed_) {
            settled_printed_ = true;
            std::printf("SETTLED connected=%zu refused=%zu failed=%zu t_ms=%.0f\n", streaming_, count(Phase::refused),
                        count(Phase::failed), ms_between(start_, now));
            std::fflush(stdout);
        }
        for (auto& [state, seen] : states_) {
            if (seen.reported) continue;
            const Figures f = figures(state);
            const bool complete = all_settled && f.missing == 0;
            if (!complete && now - seen.first < to_duration(o_.state_wait)) continue;
            seen.reported = true;
            std::printf("STATE n=%llu clients=%zu missing=%zu first_ms=%.1f first_epoch_ms=%lld p50_ms=%.2f "
                        "p99_ms=%.2f max_ms=%.2f %s\n",
                        static_cast<unsigned long long>(state), f.received, f.missing, ms_between(start_, seen.first),
                        epoch_ms(seen.first_wall), f.p50, f.p99, f.max, complete ? "complete" : "timeout");
            std::fflush(stdout);
            if (o_.expect_state != 0 && state == o_.expect_state && complete) done_ = true;
        }
    }

    static long long epoch_ms(std::chrono::system_clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    }

    void report(Clock::time_point now) {
        std::fprintf(stderr, "t=%.0fs streaming %zu/%zu, refused %zu, failed %zu, dropped %zu, connect errors %zu, "
                             "states seen %zu\n",
                     ms_between(start_, now) / 1000, streaming_, clients_.size(), count(Phase::refused),
                     count(Phase::failed), dropped_, connect_errors_, states_.size());
    }

    void result() {
        std::string seen;
        for (const auto& [state, info] : states_) seen += (seen.empty() ? "" : ",") + std::to_string(state);
        std::string line = "RESULT clients=" + std::to_string(clients_.size()) + " connected=" +
                           std::to_string(streaming_) + " refused=" + std::to_string(count(Phase::refused)) +
                           " failed=" + std::to_string(count(Phase::failed)) + " other_status=" +
                           std::to_string(other_status_) + " dropped=" + std::to_string(dropped_) +
                           " connect_errors=" + std::to_string(connect_errors_) + " connects=" +
                           std::to_string(connects_) + " state_events=" + std::to_string(state_events_) +
                           " bad_events=" + std::to_string(bad_events_) + " comments=" + std::to_string(comments_) +
                           " states=" + (seen.empty() ? "none" : seen);
        if (!states_.empty()) {
            const auto& [newest, info] = *states_.rbegin();
            const Figures f = figures(newest);
            char text[256];
            std::snprintf(text, sizeof text,
                          " newest=%llu received=%zu missing=%zu first_ms=%.1f first_epoch_ms=%lld spread_p50_ms=%.2f "
                          "spread_p99_ms=%.2f spread_max_ms=%.2f",
                          static_cast<unsigned long long>(newest), f.received, f.missing,
                          ms_between(start_, info.first), epoch_ms(info.first_wall), f.p50, f.p99, f.max);
            line += text;
        } else {
            line += " newest=0 received=0 missing=" + std::to_string(streaming_);
        }
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    Options o_;
    sockaddr_in address_{};
    int epoll_ = -1;
    std::vector<Client> clients_;
    std::map<uint64_t, StateSeen> states_;
    Clock::time_point start_{};
    std::size_t next_open_ = 0;      // clients before it have had their first connect
    std::size_t in_flight_ = 0;      // connecting or waiting for the head
    std::size_t streaming_ = 0;
    std::size_t connects_ = 0;       // streams opened, reconnects included
    std::size_t dropped_ = 0;        // streams the server ended
    std::size_t connect_errors_ = 0;
    std::size_t other_status_ = 0;
    std::size_t state_events_ = 0, bad_events_ = 0, comments_ = 0;
    bool settled_printed_ = false;
    bool done_ = false;
};

volatile std::sig_atomic_t g_interrupted = 0;

// The soft limit of open files up to the hard limit.
void raise_file_limit(std::size_t wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted)
        std::fprintf(stderr, "event_clients: only %llu file descriptors allowed, %zu wanted\n",
                     static_cast<unsigned long long>(limit.rlim_cur), wanted);
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    raise_file_limit(options.clients + 64);
    struct sigaction action {};
    action.sa_handler = [](int) { g_interrupted = 1; };
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        Listeners listeners(options);
        return listeners.run(g_interrupted);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "event_clients: %s\n", e.what());
        return 1;
    }
}
