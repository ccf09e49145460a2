// Limits of the page server; every bound a client could otherwise push is named here.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <thread>

namespace ringolan::server {

// Longest request line or header line, without its line end.
inline constexpr std::size_t kMaxLineLength = 16384;
// Time a client has to send the request line and all header lines.
inline constexpr std::chrono::seconds kHeaderReadTimeout{10};
// Time a client has to send the request body once the headers are in.
inline constexpr std::chrono::seconds kBodyReadTimeout{10};
// Largest request body accepted; page requests carry at most a short form.
inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
// Most header lines accepted in one request.
inline constexpr std::size_t kMaxHeaderLines = 100;
// Kernel send buffer asked for each connection (Linux doubles it for its bookkeeping). Without a
// bound the kernel grows it to megabytes, so clients that stop reading pin the machine's TCP memory
// and every other connection stalls.
inline constexpr std::size_t kSendBufferBytes = 64 * 1024;
// A connection writing a larger body (a long results list) gets a buffer of up to this size for
// it, so that the body goes out in one or two writes instead of a dozen wake-ups; at most
// kLargeSendBuffers connections hold one at a time, so clients that stop reading pin at most
// about 128 MiB of kernel memory (the others keep kSendBufferBytes).
inline constexpr std::size_t kLargeSendBufferBytes = 1024 * 1024;
inline constexpr std::size_t kLargeSendBuffers = 64;
// Connections the kernel holds until they are accepted (it clamps this to net.core.somaxconn).
// Clients cut off by a limit come back at once and in bursts; a short queue then drops the
// connection requests of normal clients, which wait a second or more before trying again.
inline constexpr int kListenBacklog = 4096;
// Connections served at once; further accepted connections wait in a queue.
inline constexpr std::size_t kMaxConnections = 2048;
// Threads generating answers: one per hardware thread, at least two.
inline const unsigned kWorkerThreads = std::max(2u, std::thread::hardware_concurrency());
// Scheduling priority of the server's threads, lowered by these nice steps. The threads that
// generate pages yield to reading a new state of the competition file (the reader child, the
// warming of its pages) and to the scoring program when requests saturate the cores, so a
// change reaches the pages about twice as fast under full load. Cached answers (I/O threads)
// keep the normal priority. More steps shorten that time a little further but make fresh pages
// wait longer while the file is being read.
inline constexpr int kIoThreadNice = 0;
inline constexpr int kWorkerThreadNice = 5;
// Generated pages kept per state of the competition file (bytes and count).
inline constexpr std::size_t kPageCacheBytes = 64 * 1024 * 1024;
inline constexpr std::size_t kPageCacheEntries = 20000;
// Cached pages at least this long are also held in an in-memory file and sent with sendfile,
// without copying their bytes for every answer.
inline constexpr std::size_t kBodyFileBytes = 64 * 1024;
// Longest wait of a request for another request's generation of the same page.
inline constexpr std::chrono::milliseconds kPageWaitLimit{5000};
// Warming a new state of the file before it is served: at most this many of the most requested
// pages, for at most this long; a new state is served at the latest after kWarmHold.
inline constexpr std::size_t kWarmPages = 2000;
inline constexpr std::chrono::milliseconds kWarmTime{300};
inline constexpr std::chrono::milliseconds kWarmHold{500};
// The same for a state read page by page from the served one (a few results changed): most
// pages carry over, and the change should be on the pages within a fraction of a second.
inline constexpr std::chrono::milliseconds kWarmTimeIncremental{50};
inline constexpr std::chrono::milliseconds kWarmHoldIncremental{100};
// Event-stream connections (/api/v1/events) held at once, besides the page connections; further
// clients are told to come back after kEventRetryAfter.
inline constexpr std::size_t kMaxEventClients = 5000;
inline constexpr std::chrono::seconds kEventRetryAfter{10};
// Bytes queued for one event client; a client that stops reading is dropped when they are exceeded.
inline constexpr std::size_t kEventQueueBytes = 16 * 1024;
// Kernel send buffer of an event client; events are short, and a small buffer shows a client
// that stopped reading early.
inline constexpr std::size_t kEventSendBufferBytes = 8 * 1024;
// A comment line keeps idle event streams open through proxies and shows dead clients.
inline constexpr std::chrono::seconds kEventHeartbeat{15};
// Longest wait for open connections to end when the server stops.
inline constexpr std::chrono::milliseconds kStopWait{5000};

}  // namespace ringolan::server
