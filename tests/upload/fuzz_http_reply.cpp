// Fuzzes the reply parser of the HTTP client: any bytes, fed in any split, end in the same head,
// body, bytes taken and error (or none) without a crash. With RINGOLAN_LIBFUZZER this is a
// libFuzzer target; otherwise main() runs a reproducible random loop over mutated seed replies.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "upload/http_reply.h"

namespace {

using ringolan::upload::ReplyFormatError;
using ringolan::upload::ReplyHead;
using ringolan::upload::ReplyParser;

std::string_view g_input;  // the input being checked, shown when a check fails

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "reply parser: %s\ninput:", what);
    for (unsigned char c : g_input) std::fprintf(stderr, " %02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

struct Outcome {
    std::optional<std::string> error;  // a feed that throws reports no count, so `taken` then differs
    bool done = false;
    bool head_complete = false;
    bool until_close = false;
    std::size_t taken = 0;
    ReplyHead head;
    std::string body;
};

bool same(const Outcome& a, const Outcome& b) {
    return a.error == b.error && a.done == b.done && a.head_complete == b.head_complete &&
           a.until_close == b.until_close && (a.error || a.taken == b.taken) && a.head.status_line == b.head.status_line &&
           a.head.status == b.head.status && a.head.headers == b.head.headers && a.body == b.body;
}

Outcome parse(std::string_view bytes, std::size_t chunk, bool close_at_end) {
    Outcome out;
    ReplyParser p;
    try {
        for (std::size_t at = 0; at < bytes.size(); at += chunk) {
            const std::string_view piece = bytes.substr(at, chunk);
            const std::size_t n = p.feed(piece);
            if (n > piece.size()) fail("took more bytes than given");
            out.taken += n;
            out.body += p.take_body();  // bodies collect across takes
            if (n < piece.size()) {
                if (!p.done()) fail("stopped short of the bytes before the reply ended");
                break;
            }
        }
        if (close_at_end && !p.done()) p.finish();
    } catch (const ReplyFormatError& e) {
        out.error = e.what();
    }
    out.body += p.take_body();
    out.done = p.done();
    out.head_complete = p.head_complete();
    out.until_close = p.until_close();
    out.head = p.head();
    return out;
}

// The first input byte chooses the split and whether the peer closes at the end; the rest is
// what the connection delivers.
void check(const uint8_t* data, std::size_t size) {
    if (size == 0) return;
    g_input = std::string_view(reinterpret_cast<const char*>(data), size);
    const std::size_t chunk = 1 + data[0] % 19;
    const bool close_at_end = data[0] & 0x80;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const Outcome whole = parse(bytes, bytes.size() + 1, close_at_end);
    const Outcome split = parse(bytes, chunk, close_at_end);
    if (!same(whole, split)) fail("the outcome depends on how the bytes were split");
    if (whole.taken > bytes.size()) fail("took more bytes than there were");
    if (whole.done && !whole.head_complete) fail("done without a head");
    if (!whole.error && close_at_end && !whole.done) fail("closed connection left the reply open");
    if (whole.body.size() > bytes.size()) fail("body longer than the input");
    if (whole.head.status != ringolan::upload::status_code_of(whole.head.status_line))
        fail("status differs from the status line");
}

}  // namespace

#include "tests/support/fuzz_loop.h"

#ifdef RINGOLAN_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    check(data, size);
    return 0;
}
#else
// fuzz_http_reply [RUNS [SEED]]
int main(int argc, char** argv) {
    const std::vector<std::string> seeds = {
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhallo",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nX: y\r\n\r\n",
        "HTTP/1.0 302 Found\r\nLocation: /a\r\nSet-Cookie: s=1\r\n\r\nbis zum Ende",
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\nnext",
        "\r\nHTTP/1.1 500 Fehler\nFolded: a\n b\nContent-Length: 2\n\nxy",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nA;ext=1\r\n0123456789\r\n0\r\n\r\n",
    };
    static const char alphabet[] = "\r\n :;0123456789aAfFHTP/.-Content-LengthTransfer-Encodingchunked\x00\xff";
    return ringolan::test_support::run_mutation_loop(argc, argv, 20000, seeds,
                                                     std::string_view(alphabet, sizeof alphabet - 1), check);
}
#endif
