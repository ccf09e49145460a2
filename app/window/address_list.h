// The addresses the page server listens on (shown in the window's address list): the host
// name's IPv4 addresses and the loopback address.
#pragma once

#include <string>
#include <vector>

namespace ringolan::window {

// The host name's IPv4 addresses in dotted form, in the resolver's order; empty when the
// host name cannot be read or resolves to nothing.
std::vector<std::string> host_ipv4_addresses();

// IPv4 addresses of the network interfaces that are up, loopback excluded.
std::vector<std::string> interface_ipv4_addresses();

// The listening addresses from the resolver's answer: the addresses in order, then "127.0.0.1"
// unless it comes first; nothing when the resolver gave nothing. A resolver that knows
// the host only as a loopback address (common on Linux desktops, where the host name maps to
// 127.0.1.1) would leave the range's network unserved, so then the interfaces' addresses
// follow the resolver's.
std::vector<std::string> listen_addresses(const std::vector<std::string>& resolved,
                                          const std::vector<std::string>& interfaces);

}  // namespace ringolan::window
