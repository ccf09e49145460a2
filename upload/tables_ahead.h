// The tables of a run prepared one after another on a thread of their own, ahead of the
// requests that send them: while the site loads one table, the next ones are dumped and packed.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "upload/dump_pack.h"

namespace ringolan::upload {

class TablesAhead {
public:
    // Prepares table index and returns its lines; ends early with the stop check's exception.
    using Prepare = std::function<size_t(size_t index, const StopCheck& stop)>;

    // Starts preparing tables 0 .. count-1 in order; stop is asked as by dump_and_pack.
    TablesAhead(size_t count, Prepare prepare, StopCheck stop);
    // Stops the table in progress and waits for the thread.
    ~TablesAhead();
    TablesAhead(const TablesAhead&) = delete;
    TablesAhead& operator=(const TablesAhead&) = delete;

    // Waits for table index; its lines, or what preparing it (or a table before it) threw.
    size_t wait(size_t index);

private:
    void run(size_t count);

    Prepare prepare_;
    StopCheck stop_;
    std::atomic<bool> leaving_{false};
    std::vector<std::promise<size_t>> done_;
    std::vector<std::future<size_t>> results_;
    std::thread thread_;
};

}  // namespace ringolan::upload
