#include "db/snapshot/follower.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "common/unique_fd.h"

namespace ringolan::db {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// What tells one state of the file from another.
struct Signature {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtime_ns = 0;
    bool operator==(const Signature&) const = default;
};

Signature signature(const struct stat& st) {
    return {true, st.st_dev, st.st_ino, st.st_size, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

Signature stat_path(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return signature(st);
}

enum class Copy { Done, Changed, Failed };

}  // namespace

struct SnapshotFollower::Impl {
    Options options;

    mutable std::mutex mutex;  // guards the members up to `callback`
    std::condition_variable attempted;
    fs::path path;
    uint64_t epoch = 0;  // counts set_path calls
    bool stop = false;
    std::shared_ptr<const Snapshot> current;
    Status status;
    std::function<void(const Status&)> callback;

    // Owned by the worker thread.
    UniqueFd wake;
    UniqueFd notify;
    int watch = -1;
    fs::path temp_dir;
    uint64_t generation = 0;
    std::thread thread;

    void run();
    void rewatch(const fs::path& file);
    bool drain_events(const fs::path& file);
    Copy copy(const fs::path& from, const fs::path& to, Signature& got, std::string& error);
    void attempt(const fs::path& file, uint64_t my_epoch, bool& changed, Signature& done);
    void publish(uint64_t my_epoch, std::shared_ptr<const Snapshot> snap, std::string error, bool count);
    void poke() const {
        const uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wake.get(), &one, sizeof one);
    }
};

void SnapshotFollower::Impl::rewatch(const fs::path& file) {
    if (watch >= 0) ::inotify_rm_watch(notify.get(), watch);
    watch = -1;
    if (notify.get() < 0) return;
    fs::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    // Writers often replace the file (rename over it), so the folder is watched, not the file.
    watch = ::inotify_add_watch(notify.get(), dir.c_str(),
                                IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                    IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
}

// Reads the pending events; true when one concerns the file (or the folder went away).
bool SnapshotFollower::Impl::drain_events(const fs::path& file) {
    if (notify.get() < 0) return false;
    const std::string name = file.filename().string();
    bool hit = false;
    alignas(struct inotify_event) char buf[8192];
    for (;;) {
        const ssize_t n = ::read(notify.get(), buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + off);
            if (ev->wd == watch) {
                if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    hit = true;
                    if (ev->mask & IN_IGNORED) watch = -1;  // folder gone: watch again when it is back
                } else if (ev->len > 0 && name == ev->name) {
                    hit = true;
                }
            }
            off += ssize_t(sizeof(struct inotify_event) + ev->len);
        }
    }
    return hit;
}

// Copies the file and checks that it did not change meanwhile.
Copy SnapshotFollower::Impl::copy(const fs::path& from, const fs::path& to, Signature& got, std::string& error) {
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        if (errno == ENOENT) return Copy::Changed;  // gone since the stat: look again
        error = from.string() + ": cannot open: " + std::strerror(errno);
        return Copy::Failed;
    }
    struct stat before {};
    if (::fstat(in.get(), &before) != 0 || !S_ISREG(before.st_mode)) {
        error = from.string() + ": not a regular file";
        return Copy::Failed;
    }
    drain_events(from);  // events from before the open say nothing about the copy
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        error = to.string() + ": cannot create the private copy: " + std::strerror(errno);
        return Copy::Failed;
    }
    std::vector<char> buf(1 << 20);
    off_t total = 0;
    for (;;) {
        const ssize_t n = ::read(in.get(), buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = from.string() + ": read error: " + std::strerror(errno);
            return Copy::Failed;
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out.get(), buf.data() + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                error = to.string() + ": cannot write the private copy: " + std::strerror(errno);
                return Copy::Failed;
            }
            done += w;
        }
        total += n;
    }
    struct stat after {};
    ::fstat(in.get(), &after);
    got = signature(before);
    // Same size and time before and after, every byte read, the path still names this file,
    // and no write event arrived meanwhile (the clock behind mtime is coarse).
    if (signature(after) != got || total != before.st_size || stat_path(from) != got || drain_events(from)) {
        return Copy::Changed;
    }
    return Copy::Done;
}

void SnapshotFollower::Impl::publish(uint64_t my_epoch, std::shared_ptr<const Snapshot> snap, std::string error,
                                     bool count) {
    Status copy;
    std::function<void(const Status&)> cb;
    {
        std::lock_guard lock(mutex);
        if (my_epoch != epoch) return;  // the path changed meanwhile
        if (snap) {
            current = std::move(snap);
            status.has_snapshot = true;
            status.generation = current->info().generation;
            status.last_success = std::chrono::system_clock::now();
        }
        status.error = std::move(error);
        status.loading = false;
        if (count) ++status.attempts;
        copy = status;
        cb = callback;
    }
    attempted.notify_all();
    if (cb) cb(copy);
}

void SnapshotFollower::Impl::attempt(const fs::path& file, uint64_t my_epoch, bool& changed, Signature& done) {
    changed = false;
    {
        std::lock_guard lock(mutex);
        status.loading = true;
    }
    const Signature sig = stat_path(file);
    if (!sig.exists) {
        done = sig;
        publish(my_epoch, nullptr, file.string() + ": file not found", true);
        return;
    }
    const fs::path copy_path = temp_dir / "copy.mdb";
    Signature got;
    std::string error;
    const Copy c = copy(file, copy_path, got, error);
    if (c == Copy::Changed) {
        changed = true;
        std::lock_guard lock(mutex);
        status.loading = false;
        return;
    }
    if (c == Copy::Failed) {
        done = sig;
        std::error_code ec;
        fs::remove(copy_path, ec);
        publish(my_epoch, nullptr, error, true);
        return;
    }
    done = got;
    BuildResult built = options.build ? build_snapshot_isolated(copy_path, options.build_limit, options.build)
                                      : build_snapshot_isolated(copy_path, options.build_limit);
    std::error_code ec;
    fs::remove(copy_path, ec);
    if (!built.ok()) {
        // The child names the private copy; the user knows the file by its own name.
        std::string msg = built.error;
        const std::string copy_name = copy_path.string();
        for (size_t at; (at = msg.find(copy_name)) != std::string::npos;) msg.replace(at, copy_name.size(), file.string());
        publish(my_epoch, nullptr, msg, true);
        return;
    }
    SnapshotInfo info;
    info.source = file;
    info.generation = ++generation;
    info.size = uintmax_t(got.size);
    info.mtime = std::chrono::time_point_cast<fs::file_time_type::duration>(std::chrono::file_clock::from_sys(
        std::chrono::sys_time<std::chrono::nanoseconds>(std::chrono::nanoseconds(got.mtime_ns))));
    info.build_time = built.elapsed;
    try {
        publish(my_epoch, Snapshot::from_image(std::move(built.image), std::move(info)), {}, true);
    } catch (const std::exception& e) {
        publish(my_epoch, nullptr, file.string() + ": " + e.what(), true);
    }
}

void SnapshotFollower::Impl::run() {
    fs::path file;
    uint64_t my_epoch = ~uint64_t(0);
    Signature seen, done;
    bool have_done = false, dirty = true;
    int retries = 0;
    Clock::time_point seen_since = Clock::now();

    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stop) return;
            if (my_epoch != epoch) {
                my_epoch = epoch;
                file = path;
                rewatch(file);
                seen = stat_path(file);
                seen_since = Clock::now();
                have_done = false;
                dirty = true;
                retries = 0;
            }
        }
        if (watch < 0) rewatch(file);  // the folder may have appeared
        const Signature sig = stat_path(file);
        auto now = Clock::now();
        if (sig != seen) {
            seen = sig;
            seen_since = now;
        }
        const bool want = dirty || !have_done || sig != done;
        if (want && now - seen_since >= options.quiet) {
            dirty = false;
            bool changed = false;
            attempt(file, my_epoch, changed, done);
            if (changed && ++retries <= kCopyRetries) {
                dirty = true;
                seen_since = Clock::now();
            } else {
                if (changed) {
                    publish(my_epoch, nullptr, file.string() + ": the file kept changing while it was copied", true);
                }
                have_done = true;
                retries = 0;
            }
            continue;
        }
        auto wait = want ? std::chrono::duration_cast<std::chrono::milliseconds>(seen_since + options.quiet - now) +
                               std::chrono::milliseconds(1)
                         : options.stat_interval;
        wait = std::clamp(wait, std::chrono::milliseconds(1), options.stat_interval);
        struct pollfd fds[2] = {{wake.get(), POLLIN, 0}, {notify.get(), POLLIN, 0}};
        const int ready = ::poll(fds, notify.get() >= 0 ? 2 : 1, int(wait.count()));
        if (ready <= 0) continue;
        if (fds[0].revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] auto n = ::read(wake.get(), &v, sizeof v);
        }
        if (notify.get() >= 0 && (fds[1].revents & POLLIN)) {
            if (drain_events(file)) {
                dirty = true;
                seen_since = Clock::now();
            }
        }
    }
}

SnapshotFollower::SnapshotFollower(fs::path mdb) : SnapshotFollower(std::move(mdb), Options{}) {}

SnapshotFollower::SnapshotFollower(fs::path mdb, Options options) : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.options = options;
    m.path = std::move(mdb);
    m.status.path = m.path;
    m.wake.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (m.wake.get() < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    // Without change events (switched off, or none available): the stat every stat_interval alone.
    if (options.change_events) m.notify.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    std::string templ = (fs::temp_directory_path() / "ringolan-follow-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp " + templ);
    m.temp_dir = templ;
    m.thread = std::thread([&m] { m.run(); });
}

SnapshotFollower::~SnapshotFollower() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stop = true;
    }
    impl_->poke();
    impl_->thread.join();
    std::error_code ec;
    fs::remove_all(impl_->temp_dir, ec);
}

std::shared_ptr<const Snapshot> SnapshotFollower::current() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->current;
}

SnapshotFollower::Status SnapshotFollower::status() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->status;
}

void SnapshotFollower::set_path(fs::path mdb) {
    Status copy;
    std::function<void(const Status&)> cb;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->path = std::move(mdb);
        ++impl_->epoch;
        impl_->current.reset();
        impl_->status = Status{};
        impl_->status.path = impl_->path;
        copy = impl_->status;
        cb = impl_->callback;
    }
    impl_->poke();
    if (cb) cb(copy);
}

SnapshotFollower::Status SnapshotFollower::wait_for_attempt(std::chrono::milliseconds timeout) {
    std::unique_lock lock(impl_->mutex);
    impl_->attempted.wait_for(lock, timeout, [&] { return impl_->status.attempts > 0; });
    return impl_->status;
}

void SnapshotFollower::on_change(std::function<void(const Status&)> callback) {
    std::lock_guard lock(impl_->mutex);
    impl_->callback = std::move(callback);
}

}  // namespace ringolan::db
