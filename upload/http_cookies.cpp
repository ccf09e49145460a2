#include "upload/http_cookies.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "common/ascii.h"
#include "common/number.h"
#include "platform/calendar_time.h"

namespace ringolan::upload {

namespace {

// The default path of a cookie: the request path up to, not including, its last "/".
std::string default_path(std::string_view request_path) {
    auto slash = request_path.rfind('/');
    if (request_path.empty() || request_path.front() != '/' || slash == 0 || slash == std::string_view::npos)
        return "/";
    return std::string(request_path.substr(0, slash));
}

bool path_matches(std::string_view cookie_path, std::string_view path) {
    if (path == cookie_path) return true;
    if (path.substr(0, cookie_path.size()) != cookie_path) return false;
    return cookie_path.back() == '/' || path[cookie_path.size()] == '/';
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> parse_http_date(std::string_view text) {
    std::string s(text);
    std::replace(s.begin(), s.end(), '-', ' ');
    if (auto comma = s.find(','); comma != std::string::npos) s.erase(0, comma + 1);
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char month[4] = {};
    if (std::sscanf(s.c_str(), " %d %3s %d %d:%d:%d", &day, month, &year, &hour, &minute, &second) != 6)
        return std::nullopt;
    static constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                              "jul", "aug", "sep", "oct", "nov", "dec"};
    std::string wanted = text::ascii_lower(month);
    auto it = std::find_if(std::begin(kMonths), std::end(kMonths), [&](const char* m) { return wanted == m; });
    if (it == std::end(kMonths)) return std::nullopt;
    if (year < 70) year += 2000;
    else if (year < 100) year += 1900;
    year = std::min(year, 2200);  // the clock's range ends in 2262
    if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = static_cast<int>(it - std::begin(kMonths));
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return std::chrono::system_clock::from_time_t(platform::utc_seconds(tm));
}

void CookieJar::store(std::string_view host, std::string_view request_path, std::string_view set_cookie,
                      Clock::time_point now) {
    std::string_view rest = set_cookie;
    auto semi = rest.find(';');
    std::string_view pair = text::trim(rest.substr(0, semi));
    rest = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
    auto eq = pair.find('=');
    if (eq == std::string_view::npos) return;
    Cookie cookie{std::string(text::trim(pair.substr(0, eq))), std::string(text::trim(pair.substr(eq + 1))),
                  default_path(request_path), std::nullopt, false};
    if (cookie.name.empty()) return;

    std::optional<Clock::time_point> max_age_end;
    while (!rest.empty()) {
        semi = rest.find(';');
        std::string_view attribute = text::trim(rest.substr(0, semi));
        rest = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
        auto aeq = attribute.find('=');
        std::string key = text::ascii_lower(text::trim(attribute.substr(0, aeq)));
        std::string_view value = aeq == std::string_view::npos ? std::string_view{} : text::trim(attribute.substr(aeq + 1));
        if (key == "path" && !value.empty() && value.front() == '/') {
            cookie.path = std::string(value);
        } else if (key == "expires") {
            if (auto when = parse_http_date(value)) cookie.expires = when;
        } else if (key == "max-age") {
            constexpr long long kCentury = 100LL * 366 * 24 * 3600;  // keeps the sum inside the clock's range
            if (const auto parsed = text::parse_number<long long>(value)) {
                const long long seconds = std::min(*parsed, kCentury);
                max_age_end = seconds <= 0 ? Clock::time_point::min() : now + std::chrono::seconds(seconds);
            }
        } else if (key == "secure") {
            cookie.secure = true;
        }
    }
    if (max_age_end) cookie.expires = max_age_end;

    auto& cookies = by_host_[text::ascii_lower(host)];
    auto same = std::find_if(cookies.begin(), cookies.end(),
                             [&](const Cookie& c) { return c.name == cookie.name && c.path == cookie.path; });
    bool expired = cookie.expires && *cookie.expires <= now;
    if (same != cookies.end()) {
        if (expired) cookies.erase(same);
        else *same = std::move(cookie);
    } else if (!expired) {
        cookies.push_back(std::move(cookie));
    }
}

std::string CookieJar::header_for(std::string_view host, std::string_view path, bool tls,
                                  Clock::time_point now) const {
    auto found = by_host_.find(text::ascii_lower(host));
    if (found == by_host_.end()) return {};
    std::string out;
    for (const Cookie& cookie : found->second) {
        if (cookie.expires && *cookie.expires <= now) continue;
        if (cookie.secure && !tls) continue;
        if (!path_matches(cookie.path, path)) continue;
        if (!out.empty()) out += "; ";
        out += cookie.name + "=" + cookie.value;
    }
    return out;
}

}  // namespace ringolan::upload
