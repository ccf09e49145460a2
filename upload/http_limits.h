// Time and size limits of the publishing-site HTTP client.
#pragma once

#include <chrono>
#include <cstddef>

namespace ringolan::upload {

// Longest wait for name resolution and the TCP connection (and the TLS handshake) together.
inline constexpr std::chrono::milliseconds kConnectTimeout{15000};
// Longest wait for the next bytes of a reply; the site may take a while to load a large table.
inline constexpr std::chrono::milliseconds kReadTimeout{120000};
// Longest time for a whole reply, from the request sent to its last byte: a site that sends a
// byte now and then never reaches the read limit but ends here.
inline constexpr std::chrono::milliseconds kReplyTimeout{600000};
// Longest wait for each block of a request to be taken by the site.
inline constexpr std::chrono::milliseconds kSendTimeout{60000};
// Longest wait for the body of a reply that is already known to be an error.
inline constexpr std::chrono::milliseconds kErrorBodyReadTimeout{2000};

// Longest status, header, chunk-size or trailer line of a reply, without its line end.
inline constexpr std::size_t kMaxReplyLineLength = 64 * 1024;
// Most header lines in one reply head (interim 100 heads included).
inline constexpr std::size_t kMaxReplyHeaderLines = 1000;
// Most interim (100 Continue) heads before the final one.
inline constexpr std::size_t kMaxInterimReplies = 32;
// Largest reply body that Get returns as text.
inline constexpr std::size_t kMaxTextReplyBytes = 16 * 1024 * 1024;
// Size of the blocks in which a request body is sent.
inline constexpr std::size_t kSendBlockBytes = 64 * 1024;

}  // namespace ringolan::upload
