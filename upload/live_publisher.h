// Live publishing: follows the competition file while it is scored and sends the site only what
// changed since the state it acknowledged last, as numbered batches of one stream
// (site/changes_handler.h).
//
// The first batch of a stream replaces every table; each later one holds the lines deleted and
// inserted per table against the last acknowledged state. A batch that got no answer (the
// connection broke, the site was restarting) is sent again unchanged, with growing pauses,
// until the site answers; the site applies it once and answers "duplicate" to a repeat. When
// the site answers a conflict (another client, a classic upload, a lost state) a new stream
// starts with every table.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "common/error.h"
#include "db/snapshot/follower.h"
#include "upload/change_batch.h"
#include "upload/change_chain.h"
#include "upload/live_http.h"
#include "upload/upload_run.h"

namespace ringolan::upload {

// Live publishing cannot go on (wrong password, the site refuses the batches, a bad address).
// what() is a German text (Windows-1252).
class LiveError : public Error {
public:
    using Error::Error;
};

struct LiveSettings {
    std::string base;          // the site's base address, http:// or https://
    std::string account_id;    // Windows-1252
    std::string password;      // Windows-1252
    StarterFilter filter = StarterFilter::All;
    std::filesystem::path database;  // the competition file
    // Least time from the start of one batch (reading its tables) to the next while the file
    // keeps changing.
    std::chrono::milliseconds interval{1000};
    // Longest pause between two attempts to send a batch.
    std::chrono::milliseconds max_retry_pause{10000};
    // The password may go over plain http to a host other than this computer.
    bool insecure = false;
    LiveHttp::Options http;
    // The itdatum text of each batch (default: the local time when it is made).
    std::function<std::string()> itdatum;
    db::SnapshotFollower::Options follower;
};

// One batch the site acknowledged.
struct BatchReport {
    std::string stream;
    std::int64_t sequence = 0;
    bool full = false;         // started the stream
    bool duplicate = false;    // the site had applied it already (its first answer was lost)
    std::size_t tables = 0, deleted = 0, inserted = 0;
    int attempts = 0;
    std::chrono::milliseconds elapsed{0};  // from the first attempt to the acknowledgement
    std::chrono::milliseconds prepared{0}; // dumping the snapshot's tables and the difference
    std::chrono::system_clock::time_point file_time;  // modification time of the file read
    std::chrono::system_clock::time_point acknowledged;
};

struct LiveEvents {
    std::function<void(const BatchReport&)> acknowledged;
    std::function<void(const std::string&)> status;  // a line for the log (Windows-1252)
};

// Throws LiveError when the password would go over plain http to another computer.
void check_live_address(const Address& address, bool insecure);

class LivePublisher {
public:
    LivePublisher(LiveSettings settings, LiveEvents events);

    // Publishes until cancel is called, then returns. Throws LiveError when it cannot go on.
    // Events are called on this thread.
    void run();
    // From any thread, also before run: run returns soon (a request in progress is ended).
    void cancel();

private:
    struct Delivery {
        bool conflict = false;
        bool duplicate = false;
        int attempts = 0;
    };
    bool cancelled() const { return cancel_.load(); }
    void status(const std::string& line) const;
    // Waits until the deadline or cancel; false when cancelled.
    bool pause_until(std::chrono::steady_clock::time_point deadline);
    // Sends until the site answers; nullopt when cancelled. Throws LiveError.
    std::optional<Delivery> deliver(const OutgoingBatch& batch);
    // The snapshot's statement lines; nullopt (after a status line) when they cannot be read.
    std::optional<TablesDump> read_tables(const db::Snapshot& snapshot);
    // Sends one batch made from dump, starting a stream when needed, and moves the acknowledged
    // state on. False when cancelled.
    bool publish(TablesDump dump, const db::SnapshotInfo& info, std::chrono::steady_clock::time_point began);

    LiveSettings settings_;
    LiveEvents events_;
    Address address_;
    std::string authorization_;
    LiveHttp http_;
    std::atomic<bool> cancel_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::uint64_t seen_generation_ = 0;  // under mutex_: the newest snapshot the follower offers
    ChangeChain changes_;                 // of every state the follower read

    // The acknowledged state: the stream, its last sequence and the lines the site holds.
    bool streaming_ = false;
    std::string stream_;
    std::int64_t sequence_ = 0;
    TablesDump acknowledged_;
    std::uint64_t acknowledged_generation_ = 0;  // of the snapshot acknowledged_ was read from
};

}  // namespace ringolan::upload
