#include "platform/calendar_time.h"

namespace ringolan::platform {

std::tm local_time(std::time_t seconds) {
    std::tm tm{};
    ::localtime_r(&seconds, &tm);
    return tm;
}

std::tm utc_time(std::time_t seconds) {
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    return tm;
}

std::time_t utc_seconds(std::tm utc) { return ::timegm(&utc); }

}  // namespace ringolan::platform
