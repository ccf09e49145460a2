#include "db/snapshot/follower.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "db/snapshot/reader_service.h"
#include "platform/file.h"
#include "platform/file_watch.h"
#include "platform/wakeup.h"

namespace ringolan::db {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using platform::File;
using Signature = platform::FileState;

Signature stat_path(const fs::path& p) { return platform::file_state(p); }

enum class Copy { Done, Changed, Failed };

// The reader names the private copy; the user knows the file by its own name.
std::string with_name_of(const fs::path& file, const fs::path& copy, std::string message) {
    const std::string copy_name = copy.string();
    for (size_t at; (at = message.find(copy_name)) != std::string::npos;) message.replace(at, copy_name.size(), file.string());
    return message;
}

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
    platform::Wakeup wake;
    std::unique_ptr<platform::FolderWatch> notify;  // null without change events
    fs::path temp_dir;
    uint64_t generation = 0;
    std::unique_ptr<ReaderService> service;  // null with options.build (one child per read)
    uint64_t service_epoch = ~uint64_t(0);   // the path's epoch the service's child has read
    uint64_t published_generation = 0;       // of the last snapshot made by the service
    std::thread thread;

    void run();
    void rewatch(const fs::path& file);
    bool drain_events(const fs::path& file);
    Copy copy(const fs::path& from, const fs::path& to, Signature& got, std::string& error);
    Copy copy_bytes(File& in, const fs::path& from, const fs::path& to, uint64_t& total, std::string& error);
    void attempt(const fs::path& file, uint64_t my_epoch, bool& changed, Signature& done);
    void attempt_with_service(const fs::path& file, uint64_t my_epoch, bool& changed, Signature& done);
    void publish_image(const fs::path& file, uint64_t my_epoch, const ReaderService::Answer& answer);
    void publish(uint64_t my_epoch, std::shared_ptr<const Snapshot> snap, std::string error, bool count);
    void poke() const { wake.signal(); }
};

void SnapshotFollower::Impl::rewatch(const fs::path& file) {
    if (!notify) return;
    fs::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    // Writers often replace the file (rename over it), so the folder is watched, not the file.
    notify->watch(dir);
}

// Reads the pending events; true when one concerns the file (or the folder went away).
bool SnapshotFollower::Impl::drain_events(const fs::path& file) {
    return notify && notify->take_events(file.filename().string());
}

// The bytes of in to a new file at to.
Copy SnapshotFollower::Impl::copy_bytes(File& in, const fs::path& from, const fs::path& to, uint64_t& total,
                                        std::string& error) {
    std::error_code ec;
    File out = File::open(to, File::Access::write_private, ec);
    if (ec) {
        error = to.string() + ": cannot create the private copy: " + ec.message();
        return Copy::Failed;
    }
    std::vector<char> buf(1 << 20);
    for (;;) {
        const size_t n = in.read_some(buf.data(), buf.size(), ec);
        if (ec) {
            error = from.string() + ": read error: " + ec.message();
            return Copy::Failed;
        }
        if (n == 0) return Copy::Done;
        if ((ec = out.write_all(buf.data(), n))) {
            error = to.string() + ": cannot write the private copy: " + ec.message();
            return Copy::Failed;
        }
        total += n;
    }
}

// Copies the file and checks that it did not change meanwhile.
Copy SnapshotFollower::Impl::copy(const fs::path& from, const fs::path& to, Signature& got, std::string& error) {
    std::error_code ec;
    File in = File::open(from, File::Access::read, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory) return Copy::Changed;  // gone since the stat: look again
        error = from.string() + ": cannot open: " + ec.message();
        return Copy::Failed;
    }
    Signature before;
    if (in.state(before) || !before.exists) {
        error = from.string() + ": not a regular file";
        return Copy::Failed;
    }
    drain_events(from);  // events from before the open say nothing about the copy
    uint64_t total = 0;
    if (copy_bytes(in, from, to, total, error) == Copy::Failed) return Copy::Failed;
    Signature after;
    in.state(after);
    got = before;
    // Same size and time before and after, every byte read, the path still names this file,
    // and no write event arrived meanwhile (the clock behind mtime is coarse).
    if (after != got || total != before.size || stat_path(from) != got || drain_events(from)) return Copy::Changed;
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
            status.read_time = current->info().build_time;
            status.whole_read = current->info().base_generation == 0;
            status.changed_tables = current->info().changed_tables;
            status.changed_keys = current->info().changed_keys;
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

void SnapshotFollower::Impl::publish_image(const fs::path& file, uint64_t my_epoch, const ReaderService::Answer& a) {
    SnapshotInfo info;
    info.source = file;
    info.generation = ++generation;
    info.size = uintmax_t(a.read.size);
    info.mtime = std::chrono::time_point_cast<fs::file_time_type::duration>(std::chrono::file_clock::from_sys(
        std::chrono::sys_time<std::chrono::nanoseconds>(std::chrono::nanoseconds(a.read.mtime_ns))));
    info.build_time = a.elapsed;
    if (!a.all_changed && published_generation != 0) {
        info.base_generation = published_generation;
        info.changed_tables = a.changed_tables;
        info.changed_keys = a.changed_keys;
    }
    try {
        auto snapshot = Snapshot::from_mapping(a.image, std::move(info));
        service->acknowledge(a.state);
        published_generation = snapshot->info().generation;
        publish(my_epoch, std::move(snapshot), {}, true);
    } catch (const std::exception& e) {
        published_generation = 0;
        publish(my_epoch, nullptr, file.string() + ": " + e.what(), true);
    }
}

// Asks the long-running reader, which decodes only the pages that changed. The state it read
// counts only when the file is still as it was read afterwards (no write event, same size and
// time): a scoring program writes a result as several page writes, and a state taken between
// them is dropped and read again.
void SnapshotFollower::Impl::attempt_with_service(const fs::path& file, uint64_t my_epoch, bool& changed,
                                                 Signature& done) {
    if (!service || service_epoch != my_epoch) {
        service = std::make_unique<ReaderService>(temp_dir);  // another file: a new reader
        service_epoch = my_epoch;
        published_generation = 0;
    }
    drain_events(file);  // events from before the read say nothing about it
    const ReaderService::Answer a = service->read(file, options.build_limit);
    const bool moved = a.kind == ReaderService::Answer::Kind::changing ||
                       ((a.kind == ReaderService::Answer::Kind::image || a.kind == ReaderService::Answer::Kind::same) &&
                        (drain_events(file) || stat_path(file) != a.read));
    if (moved) {
        changed = true;
        std::lock_guard lock(mutex);
        status.loading = false;
        return;
    }
    if (a.kind == ReaderService::Answer::Kind::failed) {
        done = stat_path(file);
        publish(my_epoch, nullptr, with_name_of(file, temp_dir / "copy.mdb", a.error), true);
        return;
    }
    done = a.read;
    if (a.kind == ReaderService::Answer::Kind::same) {
        publish(my_epoch, nullptr, {}, true);
        return;
    }
    publish_image(file, my_epoch, a);
}

void SnapshotFollower::Impl::attempt(const fs::path& file, uint64_t my_epoch, bool& changed, Signature& done) {
    changed = false;
    {
        std::lock_guard lock(mutex);
        status.loading = true;
    }
    if (!options.build) {
        if (!stat_path(file).exists) {
            done = stat_path(file);
            publish(my_epoch, nullptr, file.string() + ": file not found", true);
            return;
        }
        attempt_with_service(file, my_epoch, changed, done);
        return;
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
        publish(my_epoch, nullptr, with_name_of(file, copy_path, built.error), true);
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
        if (notify && !notify->watching()) rewatch(file);  // the folder may have appeared
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
        const platform::Woken woken = platform::wait_for_change(wake, notify.get(), wait);
        if (woken.by_events && drain_events(file)) {
            dirty = true;
            seen_since = Clock::now();
        }
    }
}

SnapshotFollower::SnapshotFollower(fs::path mdb) : SnapshotFollower(std::move(mdb), Options{}) {}

SnapshotFollower::SnapshotFollower(fs::path mdb, Options options) : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.options = options;
    m.path = std::move(mdb);
    m.status.path = m.path;
    // Without change events (switched off, or none available): the stat every stat_interval alone.
    if (options.change_events) m.notify = platform::FolderWatch::create();
    m.temp_dir = platform::create_temporary_folder("ringolan-follow-");
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
