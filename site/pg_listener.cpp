#include "site/pg_listener.h"

#include "site/pg_conn.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ringolan::site::pg {

namespace {

constexpr int kRetryMs = 500;

}  // namespace

ChangeListener::ChangeListener(std::string uri, std::function<void(const std::string&)> changed)
    : uri_(std::move(uri)), changed_(std::move(changed)), wake_fd_(::eventfd(0, EFD_CLOEXEC)) {
    if (wake_fd_ < 0) throw StoreError("cannot make the change listener's event");
    thread_ = std::thread([this] { run(); });
    std::unique_lock lock(started_mutex_);
    started_cv_.wait(lock, [this] { return started_; });
}

void ChangeListener::set_started() {
    std::lock_guard guard(started_mutex_);
    started_ = true;
    started_cv_.notify_all();
}

ChangeListener::~ChangeListener() {
    stop_ = true;
    const std::uint64_t one = 1;
    (void)!::write(wake_fd_, &one, sizeof one);
    thread_.join();
    ::close(wake_fd_);
}

void ChangeListener::report(const std::string& account) {
    try {
        changed_(account);
    } catch (...) {
        // The listener's failure is its own; the next change is reported all the same.
    }
}

bool ChangeListener::wait_wake(int fd, int timeout_ms) {
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {fd, POLLIN, 0}};
    ::poll(fds, fd >= 0 ? 2 : 1, timeout_ms);
    return stop_;
}

void ChangeListener::run() {
    while (!stop_) {
        try {
            serve_connection();
        } catch (const std::exception&) {
            // The database is away: try again shortly.
        }
        set_started();
        if (!stop_) wait_wake(-1, kRetryMs);
    }
}

void ChangeListener::serve_connection() {
    const ConnHandle conn = connect(uri_);
    PGconn* c = conn.get();
    exec(c, std::string("LISTEN ") + kChangeChannel);
    // Changes made while no connection listened are found by their versions.
    const Result r = exec(c, "SELECT account, version FROM site_accounts");
    std::map<std::string, std::int64_t> now;
    for (int i = 0; i < r.rows(); ++i) now.emplace(r.text(i, 0), r.integer(i, 1));
    if (connected_before_)
        for (const auto& [account, version] : now)
            if (auto it = versions_.find(account); it == versions_.end() || it->second != version) report(account);
    versions_ = std::move(now);
    connected_before_ = true;
    set_started();

    while (!stop_) {
        if (wait_wake(PQsocket(c), -1)) return;
        if (PQconsumeInput(c) != 1 || PQstatus(c) != CONNECTION_OK) return;
        while (PGnotify* n = PQnotifies(c)) {
            const std::string account = n->extra;
            PQfreemem(n);
            report(account);
        }
    }
}

}  // namespace ringolan::site::pg
