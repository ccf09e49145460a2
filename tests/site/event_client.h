// An HTTP connection to an event stream, and the states it announced.
#pragma once

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/stream_client.h"

namespace site_test {

// An event stream asked for with GET.
class Client : public ringolan::test_support::StreamClient {
public:
    Client(uint16_t port, const std::string& path) : StreamClient(port) {
        send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    }
};

// The state numbers of the events received so far.
inline std::vector<std::uint64_t> states(const std::string& stream) {
    static const std::regex event("event: state\nid: [^\n]*\ndata: \\{\"state\": ([0-9]+)\\}\n\n");
    std::vector<std::uint64_t> out;
    for (std::sregex_iterator it(stream.begin(), stream.end(), event), end; it != end; ++it)
        out.push_back(std::stoull((*it)[1]));
    return out;
}

}  // namespace site_test
