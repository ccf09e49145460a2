#include "common/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace ringolan::logging {

std::string format_line(std::string_view message, bool with_time) {
    char stamp[32] = "";
    if (with_time) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    }
    std::string line(stamp);
    line.append(message);
    line += '\n';
    return line;
}

bool is_journal_stream(const char* journal_stream, int fd) {
    if (journal_stream == nullptr) return false;
    uintmax_t device = 0, inode = 0;
    int used = 0;
    if (std::sscanf(journal_stream, "%" SCNuMAX ":%" SCNuMAX "%n", &device, &inode, &used) != 2 ||
        journal_stream[used] != '\0')
        return false;
    struct stat st {};
    return ::fstat(fd, &st) == 0 && uintmax_t(st.st_dev) == device && uintmax_t(st.st_ino) == inode;
}

void log_line(std::string_view message) {
    static std::mutex mutex;
    const std::string line = format_line(message, !is_journal_stream(std::getenv("JOURNAL_STREAM"), STDERR_FILENO));
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
