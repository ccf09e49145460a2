#include "upload/http_address.h"

#include <algorithm>

#include "common/ascii.h"
#include "common/number.h"

namespace ringolan::upload {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

void append_escaped(std::string& out, unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

uint16_t parse_port(std::string_view text, std::string_view address) {
    const std::optional<unsigned> value = text::parse_number<unsigned>(text);
    if (!value || *value == 0 || *value > 65535) throw AddressError("Invalid port in address: " + std::string(address));
    return static_cast<uint16_t>(*value);
}

}  // namespace

std::string Address::host_header() const {
    std::string value = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port != (tls ? 443 : 80)) value += ":" + std::to_string(port);
    return value;
}

bool Address::same_origin(const Address& other) const {
    return tls == other.tls && port == other.port && text::ascii_lower(host) == text::ascii_lower(other.host);
}

Address parse_address(std::string_view input) {
    std::string normalized(input);
    std::replace(normalized.begin(), normalized.end(), '\\', '/');

    Address out;
    std::string_view rest = normalized;
    if (auto sep = rest.find("://"); sep != std::string_view::npos) {
        std::string scheme = text::ascii_lower(rest.substr(0, sep));
        if (scheme == "https") out.tls = true;
        else if (scheme != "http") throw AddressError("Unsupported scheme in address: " + std::string(input));
        rest.remove_prefix(sep + 3);
    }
    out.port = out.tls ? 443 : 80;

    std::size_t authority_end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authority_end);
    rest.remove_prefix(authority_end == std::string_view::npos ? rest.size() : authority_end);
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);

    std::string_view port_text;
    bool has_port = false;
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        if (close == std::string_view::npos) throw AddressError("Invalid host in address: " + std::string(input));
        out.host = std::string(authority.substr(1, close - 1));
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') throw AddressError("Invalid host in address: " + std::string(input));
            port_text = after.substr(1);
            has_port = true;
        }
    } else if (auto colon = authority.find(':'); colon != std::string_view::npos) {
        out.host = std::string(authority.substr(0, colon));
        port_text = authority.substr(colon + 1);
        has_port = true;
    } else {
        out.host = std::string(authority);
    }
    if (out.host.empty()) throw AddressError("No host in address: " + std::string(input));
    for (unsigned char c : out.host)
        if (c <= 0x20 || c == 0x7F) throw AddressError("Invalid host in address: " + std::string(input));
    if (has_port) out.port = parse_port(port_text, input);

    rest = rest.substr(0, rest.find('#'));
    if (rest.empty() || rest.front() != '/') out.target = "/";
    for (unsigned char c : rest) {
        if (c <= 0x20 || c == 0x7F) append_escaped(out.target, c);
        else out.target += static_cast<char>(c);
    }
    return out;
}

std::string percent_encode(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        if (unreserved(c)) out += static_cast<char>(c);
        else append_escaped(out, c);
    }
    return out;
}

std::string build_address(std::string_view base, std::string_view path, const QueryPairs& query) {
    while (!base.empty() && base.back() == '/') base.remove_suffix(1);
    std::string out(base);
    out += path;
    char sep = '?';
    for (const auto& [key, value] : query) {
        out += sep;
        out += key;
        out += '=';
        out += percent_encode(value);
        sep = '&';
    }
    return out;
}

}  // namespace ringolan::upload
