// Broken-down calendar times of the C library, thread-safe.
#pragma once

#include <ctime>

namespace ringolan::platform {

// The local calendar time (the system's time zone) of seconds since 1970.
std::tm local_time(std::time_t seconds);
// The UTC calendar time of seconds since 1970.
std::tm utc_time(std::time_t seconds);
// Seconds since 1970 of a UTC calendar time (fields out of range are carried over).
std::time_t utc_seconds(std::tm utc);

}  // namespace ringolan::platform
