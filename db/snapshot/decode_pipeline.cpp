#include "db/snapshot/decode_pipeline.h"

#include <algorithm>

namespace ringolan::db {
namespace {

constexpr size_t kPagesPerBatch = 16;
constexpr size_t kBatches = 4;  // decoded ahead at most: kBatches - 1 while one is inserted

struct Stopped {};

}  // namespace

DecodePipeline::DecodePipeline(mdbread::PageReader& reader, std::optional<size_t> skipped)
    : reader_(reader), skipped_(skipped) {
    for (size_t i = 0; i < kBatches; ++i) {
        pool_.push_back(std::make_unique<Batch>());
        free_.push_back(pool_.back().get());
    }
    thread_ = std::thread([this] { run(); });
}

DecodePipeline::~DecodePipeline() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

DecodePipeline::Batch* DecodePipeline::take_free() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || !free_.empty(); });
    if (stop_) throw Stopped{};
    Batch* batch = free_.back();
    free_.pop_back();
    return batch;
}

void DecodePipeline::hand_over(Batch* batch) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(batch);
    }
    changed_.notify_all();
}

void DecodePipeline::run() {
    std::exception_ptr error;
    try {
        const auto& tables = reader_.tables();
        for (size_t t = 0; t < tables.size(); ++t) {
            const std::vector<uint32_t>& pages = tables[t].data_pages;
            const size_t count = skipped_ == t ? 0 : pages.size();
            for (size_t first = 0; first < count; first += kPagesPerBatch) {
                Batch* batch = take_free();
                batch->table = t;
                batch->end_of_table = false;
                batch->positions.clear();
                batch->values.clear();
                for (size_t i = first; i < std::min(pages.size(), first + kPagesPerBatch); ++i) {
                    const uint32_t page = pages[i];
                    reader_.decode_page(t, page, [&](uint32_t row_number, const jet::Row& row) {
                        batch->positions.push_back(mdbread::row_position(page, row_number));
                        batch->values.insert(batch->values.end(), row.begin(), row.end());
                    });
                }
                hand_over(batch);
            }
            Batch* end = take_free();
            end->table = t;
            end->end_of_table = true;
            end->positions.clear();
            end->values.clear();
            hand_over(end);
        }
    } catch (const Stopped&) {
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard lock(mutex_);
        error_ = error;
        done_ = true;
    }
    changed_.notify_all();
}

DecodePipeline::Batch* DecodePipeline::next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ || !ready_.empty(); });
    if (!ready_.empty()) {
        Batch* batch = ready_.front();
        ready_.pop_front();
        return batch;
    }
    if (error_) std::rethrow_exception(error_);
    return nullptr;
}

void DecodePipeline::recycle(Batch* batch) {
    {
        std::lock_guard lock(mutex_);
        free_.push_back(batch);
    }
    changed_.notify_all();
}

}  // namespace ringolan::db
