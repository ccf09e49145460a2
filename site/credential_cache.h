// Recently verified credentials, so a client sending a batch every second does not pay the slow
// password hash each time. Entries are keyed by a SHA-256 of account id, password and stored
// hash (a changed accounts file invalidates them); the password itself is never kept.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string_view>

namespace ringolan::site {

class CredentialCache {
public:
    using Clock = std::chrono::steady_clock;

    explicit CredentialCache(std::chrono::seconds lifetime = std::chrono::seconds(60), std::size_t capacity = 1024)
        : lifetime_(lifetime), capacity_(capacity) {}

    // True when the password matches the hash: from the cache while a successful check is
    // younger than the lifetime, else by verify_password. Failures are not cached. Thread-safe.
    bool verify(std::string_view account, std::string_view password, std::string_view hash);

private:
    using Key = std::array<unsigned char, 32>;
    Key key_of(std::string_view account, std::string_view password, std::string_view hash) const;

    std::chrono::seconds lifetime_;
    std::size_t capacity_;
    std::mutex mutex_;
    std::map<Key, Clock::time_point> verified_;  // key -> when the check was made
};

}  // namespace ringolan::site
