#include "app/window/address_list.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace ringolan::window {
namespace {

std::string dotted(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) return {};
    return text;
}

bool is_loopback(const std::string& address) { return address.rfind("127.", 0) == 0; }

}  // namespace

std::vector<std::string> host_ipv4_addresses() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) return {};
    std::vector<std::string> out;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family != AF_INET || !a->ai_addr) continue;
        std::string text = dotted(a->ai_addr);
        if (!text.empty()) out.push_back(std::move(text));
    }
    freeaddrinfo(found);
    return out;
}

std::vector<std::string> interface_ipv4_addresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::vector<std::string> out;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        std::string text = dotted(i->ifa_addr);
        if (!text.empty() && !is_loopback(text) && std::find(out.begin(), out.end(), text) == out.end())
            out.push_back(std::move(text));
    }
    freeifaddrs(list);
    return out;
}

std::vector<std::string> listen_addresses(const std::vector<std::string>& resolved,
                                          const std::vector<std::string>& interfaces) {
    std::vector<std::string> addresses = resolved;
    if (addresses.empty()) return addresses;
    if (std::all_of(resolved.begin(), resolved.end(), is_loopback)) {
        for (const auto& address : interfaces)
            if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) addresses.push_back(address);
    }
    if (addresses.front() != "127.0.0.1") addresses.push_back("127.0.0.1");
    return addresses;
}

}  // namespace ringolan::window
