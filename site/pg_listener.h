// A thread with its own connection that LISTENs for the changes any site process announces
// (NOTIFY ringolan_changes, '<account>') and reports each. It reconnects when the connection
// drops, then reports every account whose version moved meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace ringolan::site::pg {

inline constexpr const char* kChangeChannel = "ringolan_changes";

class ChangeListener {
public:
    // Returns once the first connection listens (or failed to: it is then tried again).
    ChangeListener(std::string uri, std::function<void(const std::string& account)> changed);
    ~ChangeListener();  // stops the thread and waits for it
    ChangeListener(const ChangeListener&) = delete;
    ChangeListener& operator=(const ChangeListener&) = delete;

private:
    void run();
    void serve_connection();  // returns when the connection fails or on stop
    void report(const std::string& account);
    bool wait_wake(int fd, int timeout_ms);  // true when woken to stop
    void set_started();

    std::string uri_;
    std::function<void(const std::string&)> changed_;
    int wake_fd_ = -1;
    std::atomic<bool> stop_{false};
    bool connected_before_ = false;
    std::map<std::string, std::int64_t> versions_;  // as seen at the last connection
    std::mutex started_mutex_;
    std::condition_variable started_cv_;
    bool started_ = false;
    std::thread thread_;
};

}  // namespace ringolan::site::pg
