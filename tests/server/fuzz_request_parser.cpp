// Fuzzes the request parser: any bytes, fed in any split, end in one outcome without a crash, and
// the outcome does not depend on the split. With RINGOLAN_LIBFUZZER this is a libFuzzer target;
// otherwise main() runs a reproducible random loop over mutated seed requests.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server/http_request.h"
#include "server/limits.h"

namespace {

using ringolan::server::ParseStatus;
using ringolan::server::RequestParser;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "request parser: %s\n", what);
    std::abort();
}

struct Outcome {
    ParseStatus status;
    ringolan::server::Request request;
};

Outcome parse(std::string_view bytes, std::size_t chunk, bool close_at_end) {
    RequestParser p;
    ParseStatus last = ParseStatus::need_more;
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        const ParseStatus s = p.feed(bytes.substr(at, chunk));
        if (last != ParseStatus::need_more && s != last) fail("status changed after the outcome");
        last = s;
    }
    if (close_at_end && p.status() == ParseStatus::need_more) p.end_of_input();
    return {p.status(), p.request()};
}

// The first input byte chooses the split; the rest is the connection's bytes.
void check(const uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const std::size_t chunk = 1 + data[0] % 17;
    const bool close_at_end = data[0] & 0x80;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const Outcome whole = parse(bytes, bytes.size() + 1, close_at_end);
    const Outcome split = parse(bytes, chunk, close_at_end);
    if (whole.status != split.status) fail("the outcome depends on how the bytes were split");
    if (whole.status == ParseStatus::complete) {
        if (!(whole.request == split.request)) fail("the request depends on how the bytes were split");
        const auto& r = whole.request;
        if (r.command != "GET" && r.command != "POST" && r.command != "HEAD") fail("other command accepted");
        if (r.body.size() > ringolan::server::kMaxBodyBytes) fail("body over the cap");
    }
}

}  // namespace

#include "tests/support/fuzz_loop.h"

#ifdef RINGOLAN_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    check(data, size);
    return 0;
}
#else
// fuzz_request_parser [RUNS [SEED]]
int main(int argc, char** argv) {
    const std::vector<std::string> seeds = {
        "GET /vst.php?NR=12 HTTP/1.0\r\n\r\n",
        "get /a%20b.htm HTTP/1.1\r\nHost: x\r\nConnection: keep-alive\r\n\r\n",
        "POST /est.php?ST=1 HTTP/1.1\r\nContent-Length: 5\r\n\r\na=1&b",
        "POST /x HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\nrest until close",
        "HEAD http://host:80/bild.jpg HTTP/1.1\r\nAuthorization: Basic dXNlcjpwdw==\r\n\r\n",
        "GET / HTTP/1.1\nFolded: a\n b\n\n",
    };
    static const char alphabet[] = "\r\n :%/?=&GETPOSTHEADContent-Length0123456789\x00\xff";
    return ringolan::test_support::run_mutation_loop(argc, argv, 20000, seeds,
                                                     std::string_view(alphabet, sizeof alphabet - 1), check);
}
#endif
