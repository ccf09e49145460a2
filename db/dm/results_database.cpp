#include "db/dm/results_database.h"

#include "db/jet/journal.h"

namespace ringolan::db {
namespace {

// The longest a first read of a file may take before opening counts as failed.
constexpr std::chrono::milliseconds kOpenWait{kBuildLimit + std::chrono::seconds(5)};

}  // namespace

ResultsDatabase::ResultsDatabase() = default;
ResultsDatabase::~ResultsDatabase() = default;

void ResultsDatabase::Close() { follower_.reset(); }

bool ResultsDatabase::Connected() const { return follower_ && follower_->current(); }

bool ResultsDatabase::OpenDatabase(const std::filesystem::path& path) {
    Close();
    path_ = path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path_, ec)) return false;
    // A time-stamp write of ours that was interrupted is undone before the file is read.
    if (std::filesystem::exists(jet::journal_path(path_), ec)) {
        try {
            jet::recover(path_);
        } catch (const std::exception&) {
            // the follower reads the file as it is; the next write retries the recovery
        }
    }
    auto follower = std::make_unique<SnapshotFollower>(path_);
    follower->wait_for_attempt(kOpenWait);
    if (!follower->current()) return false;
    if (on_change_) follower->on_change(on_change_);
    follower_ = std::move(follower);
    return true;
}

void ResultsDatabase::OnChange(std::function<void(const SnapshotFollower::Status&)> callback) {
    on_change_ = std::move(callback);
    if (follower_) follower_->on_change(on_change_);
}

std::shared_ptr<const Snapshot> ResultsDatabase::Current() const {
    return follower_ ? follower_->current() : nullptr;
}

SnapshotFollower::Status ResultsDatabase::Status() const {
    return follower_ ? follower_->status() : SnapshotFollower::Status{};
}

}  // namespace ringolan::db
