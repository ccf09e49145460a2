// The ten pages of the soak client: the share of requests each gets, and which page an address
// gets from the server.
#pragma once

#include <cctype>
#include <iterator>
#include <string>

#include "tests/site_crawl/crawl.h"

namespace ringolan::soak {

// A shooter looks up their own results (est.php) and the lists (erl.php, vstbl.php) far more
// often than anything else. The server picks a page by the last of these texts that its
// lower-case path contains, in this order.
struct PageKind {
    const char* name;
    const char* needle;
    double weight;
};
inline constexpr PageKind kPages[] = {
    {"start.php", "start.php", 2}, {"vstbl.php", "vstbl.php", 14}, {"vst.php", "vst.php", 4},
    {"est.php", "est.php", 30},    {"ofls.php", "ofls.php", 5},     {"sb.php", "sb.php", 8},
    {"erl.php", "/erl.php", 22},   {"merl.php", "/merl.php", 6},    {"mmerl.php", "mmerl.php", 3},
    {"erlsel.php", "erlsel.php", 6},
};
inline constexpr int kPageCount = static_cast<int>(std::size(kPages));

inline std::string lower_path(const std::string& address) {
    std::string path = crawl::document_path(address);
    for (auto& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return path;
}

// A frame page, which only points to the page it frames.
inline bool is_frame_page(const std::string& address) { return lower_path(address).find("rahmen") != std::string::npos; }

// Index into kPages of the page an address gets, or -1.
inline int page_of(const std::string& address) {
    if (is_frame_page(address)) return -1;
    const std::string path = lower_path(address);
    int page = -1;
    for (int i = 0; i < kPageCount; ++i)
        if (path.find(kPages[i].needle) != std::string::npos) page = i;
    return page;
}

}  // namespace ringolan::soak
