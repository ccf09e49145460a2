// Cookies that the publishing site sets, kept per host for the client's life and sent back on
// later requests to the same host. A Domain attribute is not honoured (cookies stay with the host
// that set them); Path, Max-Age, Expires and Secure are.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ringolan::upload {

class CookieJar {
public:
    using Clock = std::chrono::system_clock;

    // Takes one "Set-Cookie" or "Set-Cookie2" header value from a reply to a request for
    // request_path (the target without its query) on host. A cookie whose lifetime is over is
    // removed instead.
    void store(std::string_view host, std::string_view request_path, std::string_view set_cookie,
               Clock::time_point now = Clock::now());

    // The "Cookie" header value for a request of path on host ("" when there is no cookie):
    // "name=value" pairs joined by "; " in the order the cookies were first set.
    std::string header_for(std::string_view host, std::string_view path, bool tls,
                           Clock::time_point now = Clock::now()) const;

    void clear() { by_host_.clear(); }

private:
    struct Cookie {
        std::string name, value, path;
        std::optional<Clock::time_point> expires;
        bool secure = false;
    };
    std::map<std::string, std::vector<Cookie>> by_host_;  // lower-case host
};

// The time of an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", also with "-" between the date's
// parts and two-digit years); nullopt when it cannot be read.
std::optional<std::chrono::system_clock::time_point> parse_http_date(std::string_view text);

}  // namespace ringolan::upload
