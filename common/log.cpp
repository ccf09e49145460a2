#include "common/log.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "platform/calendar_time.h"
#include "platform/standard_error.h"

namespace ringolan::logging {

std::string format_line(std::string_view message, bool with_time) {
    char stamp[32] = "";
    if (with_time) {
        const std::tm local = platform::local_time(std::time(nullptr));
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    }
    std::string line(stamp);
    line.append(message);
    line += '\n';
    return line;
}

bool parse_journal_stream(const char* journal_stream, uint64_t& device, uint64_t& inode) {
    if (journal_stream == nullptr) return false;
    uintmax_t dev = 0, ino = 0;
    int used = 0;
    if (std::sscanf(journal_stream, "%" SCNuMAX ":%" SCNuMAX "%n", &dev, &ino, &used) != 2 ||
        journal_stream[used] != '\0')
        return false;
    device = uint64_t(dev);
    inode = uint64_t(ino);
    return true;
}

void log_line(std::string_view message) {
    static std::mutex mutex;
    uint64_t device = 0, inode = 0;
    const bool journal = parse_journal_stream(std::getenv("JOURNAL_STREAM"), device, inode) &&
                         platform::standard_error_is(device, inode);
    const std::string line = format_line(message, !journal);
    std::lock_guard lock(mutex);
    platform::write_standard_error(line);
}

}  // namespace ringolan::logging
