// The platform's handle of an open file, pipe or socket, wide enough for any system: a file
// descriptor on POSIX systems, a HANDLE or SOCKET on Windows.
#pragma once

#include <cstdint>

namespace ringolan::platform {

using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

}  // namespace ringolan::platform
