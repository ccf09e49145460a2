// Addresses of the publishing site: splitting an address into what a request needs, and
// building addresses whose query values reach the site exactly as typed.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.h"

namespace ringolan::upload {

struct AddressError : public Error {
    using Error::Error;
};

struct Address {
    bool tls = false;     // scheme "https"
    std::string host;     // without brackets for an IPv6 literal
    uint16_t port = 80;   // 80 for http and 443 for https unless given
    std::string target;   // path and query, fragment cut off; "/" when the address has no path

    // The "Host" header value: the host, with ":" and the port when it is not the scheme's default.
    std::string host_header() const;
    // Scheme, host and port: two addresses with the same origin may share a connection.
    bool same_origin(const Address& other) const;
};

// Splits an absolute address. Every "\" becomes "/"; a missing scheme means "http"; a "#" starts
// a fragment that is dropped. Blanks and control bytes in the target are percent-encoded so the
// request line stays well-formed. Throws AddressError for another scheme, an empty host or a bad
// port.
Address parse_address(std::string_view address);

// Percent-encodes every byte except the unreserved ones (letters, digits, "-", ".", "_", "~"), with
// upper-case hexadecimal digits; a blank becomes "%20". Any percent-decoding site, with or without
// "+" for blank, gets back the exact bytes.
std::string percent_encode(std::string_view value);

using QueryPairs = std::vector<std::pair<std::string_view, std::string_view>>;

// base (trailing "/" dropped) + path + "?" + key=encoded value pairs joined by "&".
// build_address("http://h:8080/", "/ergebnisse/anzahl.php", {{"id", "a b"}, {"tabelle", "s"}})
// gives "http://h:8080/ergebnisse/anzahl.php?id=a%20b&tabelle=s".
std::string build_address(std::string_view base, std::string_view path, const QueryPairs& query);

}  // namespace ringolan::upload
