// Wakes a thread that waits in wait_for_change (platform/file_watch.h) from another thread.
#pragma once

#include "platform/handle.h"

namespace ringolan::platform {

class Wakeup {
public:
    // Throws std::system_error when the system has none to give.
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // Wakes the waiter, or makes its next wait return at once. Safe from any thread.
    void signal() const;
    // Takes back the signals given so far.
    void clear() const;
    NativeHandle handle() const { return handle_; }

private:
    NativeHandle handle_;
};

}  // namespace ringolan::platform
