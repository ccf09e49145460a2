#include "site/parse_beside.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace ringolan::site {
namespace {

constexpr std::size_t kBatch = 256;      // statements handed over at a time
constexpr std::size_t kBatchesAhead = 8;  // at most this many waiting

using Batch = std::vector<Statement>;

// Batches from the parsing thread to the sink's; either side may give up.
class BatchQueue {
public:
    // False once the taker has given up.
    bool put(Batch batch) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return batches_.size() < kBatchesAhead || taker_gone_; });
        if (taker_gone_) return false;
        batches_.push_back(std::move(batch));
        changed_.notify_all();
        return true;
    }
    // False after the last batch.
    bool take(Batch& batch) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !batches_.empty() || ended_; });
        if (batches_.empty()) return false;
        batch = std::move(batches_.front());
        batches_.pop_front();
        changed_.notify_all();
        return true;
    }
    void end(std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        ended_ = true;
        error_ = error;
        changed_.notify_all();
    }
    void taker_gone() {
        std::lock_guard lock(mutex_);
        taker_gone_ = true;
        changed_.notify_all();
    }
    std::exception_ptr error() {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> batches_;
    bool ended_ = false, taker_gone_ = false;
    std::exception_ptr error_;
};

struct TakerGone {};

}  // namespace

void parse_dump_beside(const DumpSource& source, const std::function<void(Statement&&)>& sink) {
    BatchQueue queue;
    std::thread parser([&] {
        Batch batch;
        try {
            parse_dump_stream(source, [&](Statement&& s) {
                batch.push_back(std::move(s));
                if (batch.size() < kBatch) return;
                if (!queue.put(std::move(batch))) throw TakerGone{};
                batch = Batch();
                batch.reserve(kBatch);
            });
            if (!batch.empty() && !queue.put(std::move(batch))) throw TakerGone{};
            queue.end(nullptr);
        } catch (const TakerGone&) {
            queue.end(nullptr);
        } catch (...) {
            if (!batch.empty()) queue.put(std::move(batch));  // the statements before the error
            queue.end(std::current_exception());
        }
    });
    try {
        Batch batch;
        while (queue.take(batch))
            for (Statement& s : batch) sink(std::move(s));
    } catch (...) {
        queue.taker_gone();
        parser.join();
        throw;
    }
    parser.join();
    if (const std::exception_ptr error = queue.error()) std::rethrow_exception(error);
}

}  // namespace ringolan::site
