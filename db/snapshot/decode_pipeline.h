// Decodes every data page of a file's tables on a thread of its own while the caller inserts
// the rows: batches of a few pages, handed over in table order, pages in scan order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "db/jet/value.h"
#include "db/mdbread/page_reader.h"

namespace ringolan::db {

class DecodePipeline {
public:
    struct Batch {
        size_t table = 0;
        bool end_of_table = false;     // no rows: the table's pages are all handed over
        std::vector<int64_t> positions;  // each row's mdbread::row_position
        std::vector<jet::Value> values;  // row after row, the table's columns each
    };

    // Starts decoding; the reader is used by the pipeline's thread alone until it is destroyed.
    // The table `skipped` (an index into the reader's tables) gets its end_of_table batch only.
    explicit DecodePipeline(mdbread::PageReader& reader, std::optional<size_t> skipped = std::nullopt);
    ~DecodePipeline();  // stops the thread
    DecodePipeline(const DecodePipeline&) = delete;
    DecodePipeline& operator=(const DecodePipeline&) = delete;

    // The next batch (for table after table, each closed by an end_of_table batch), or nullptr
    // after the last. Rethrows a decoding error in its place.
    Batch* next();
    // Gives a batch from next() back once its rows are inserted.
    void recycle(Batch* batch);

private:
    void run();
    Batch* take_free();
    void hand_over(Batch* batch);

    mdbread::PageReader& reader_;
    std::optional<size_t> skipped_;
    std::vector<std::unique_ptr<Batch>> pool_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Batch*> free_;
    std::deque<Batch*> ready_;
    std::exception_ptr error_;
    bool done_ = false, stop_ = false;
    std::thread thread_;
};

}  // namespace ringolan::db
