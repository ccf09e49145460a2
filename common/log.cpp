#include "common/log.h"

#include <unistd.h>

#include <ctime>
#include <mutex>
#include <string>

namespace ringolan::logging {

void log_line(std::string_view message) {
    static std::mutex mutex;
    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    std::string line(stamp);
    line.append(message);
    line += '\n';
    std::lock_guard lock(mutex);
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) return;  // a closed stderr loses the line, nothing else
        p += n;
        left -= std::size_t(n);
    }
}

}  // namespace ringolan::logging
