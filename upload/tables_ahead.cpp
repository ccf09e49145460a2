#include "upload/tables_ahead.h"

#include <stdexcept>

namespace ringolan::upload {

TablesAhead::TablesAhead(size_t count, Prepare prepare, StopCheck stop)
    : prepare_(std::move(prepare)), stop_(std::move(stop)), done_(count) {
    for (auto& d : done_) results_.push_back(d.get_future());
    thread_ = std::thread([this, count] { run(count); });
}

TablesAhead::~TablesAhead() {
    leaving_ = true;
    thread_.join();
}

size_t TablesAhead::wait(size_t index) { return results_.at(index).get(); }

void TablesAhead::run(size_t count) {
    const StopCheck stop = [this]() -> std::exception_ptr {
        if (leaving_) return std::make_exception_ptr(std::runtime_error("no longer needed"));
        return stop_ ? stop_() : nullptr;
    };
    for (size_t i = 0; i < count; ++i) {
        try {
            done_[i].set_value(prepare_(i, stop));
        } catch (...) {
            for (size_t j = i; j < count; ++j) done_[j].set_exception(std::current_exception());
            return;
        }
    }
}

}  // namespace ringolan::upload
