#include "server/http_request.h"
#include "server/limits.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace ringolan::server {
namespace {

struct Outcome {
    ParseStatus status;
    std::string reason;
    Request request;
};

Outcome finish(RequestParser& p, bool close) {
    if (close) p.end_of_input();
    return {p.status(), p.reason(), p.request()};
}

Outcome parse(std::string_view bytes, bool close = false) {
    RequestParser p;
    p.feed(bytes);
    return finish(p, close);
}

// Parses the bytes whole, in every split into two pieces and byte by byte; all must agree.
Outcome parse_all_ways(std::string_view bytes, bool close = false) {
    const Outcome whole = parse(bytes, close);
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        RequestParser p;
        p.feed(bytes.substr(0, cut));
        p.feed(bytes.substr(cut));
        const Outcome split = finish(p, close);
        EXPECT_EQ(split.status, whole.status) << "cut at " << cut;
        EXPECT_EQ(split.reason, whole.reason) << "cut at " << cut;
        EXPECT_TRUE(split.request == whole.request) << "cut at " << cut;
    }
    RequestParser p;
    for (char c : bytes) p.feed(std::string_view(&c, 1));
    const Outcome single = finish(p, close);
    EXPECT_EQ(single.status, whole.status) << "byte by byte";
    EXPECT_EQ(single.reason, whole.reason) << "byte by byte";
    EXPECT_TRUE(single.request == whole.request) << "byte by byte";
    return whole;
}

TEST(RequestParser, LowerCaseCommandWithQuery) {
    const Outcome o = parse_all_ways("get /vst.php?NR=12 HTTP/1.0\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.command, "GET");
    EXPECT_EQ(o.request.document_path, "/vst.php");
    EXPECT_EQ(o.request.query, "NR=12");
    EXPECT_EQ(o.request.version, "HTTP/1.0");
    EXPECT_EQ(o.request.request_line, "get /vst.php?NR=12 HTTP/1.0");
    EXPECT_TRUE(o.request.headers.empty());
    EXPECT_EQ(o.request.content_length, -1);
    EXPECT_TRUE(o.request.body.empty());
}

TEST(RequestParser, PathDecodedQueryRaw) {
    Outcome o = parse_all_ways("GET /Web%20Seite/a.htm HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.document_path, "/Web Seite/a.htm");
    EXPECT_EQ(o.request.query, "");

    o = parse_all_ways("GET /a.php?B=%C4+x HTTP/1.1\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.document_path, "/a.php");
    EXPECT_EQ(o.request.query, "B=%C4+x");
}

TEST(RequestParser, HeadersKeptAndLookedUpIgnoringCase) {
    const Outcome o = parse_all_ways(
        "HEAD /x HTTP/1.1\r\nhost:  wettkampf.local \r\nCONNECTION: keep-alive\r\n"
        "content-type: text/plain\r\nX-Other: 1\r\nHost: second\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.command, "HEAD");
    EXPECT_EQ(o.request.connection, "keep-alive");
    EXPECT_EQ(o.request.host, "wettkampf.local");  // the first of two
    EXPECT_EQ(o.request.content_type, "text/plain");
    const std::vector<std::string> lines = {
        "host:  wettkampf.local ", "CONNECTION: keep-alive", "content-type: text/plain",
        "X-Other: 1", "Host: second"};
    EXPECT_EQ(o.request.headers, lines);
    EXPECT_EQ(o.request.header("x-other"), "1");
    EXPECT_EQ(o.request.header("Missing"), std::nullopt);
}

TEST(RequestParser, LineEndsWithoutCarriageReturn) {
    const Outcome crlf = parse_all_ways("GET /a?b HTTP/1.0\r\nHost: h\r\nConnection: close\r\n\r\n");
    const Outcome lf = parse_all_ways("GET /a?b HTTP/1.0\nHost: h\nConnection: close\n\n");
    const Outcome mixed = parse_all_ways("GET /a?b HTTP/1.0\nHost: h\r\nConnection: close\n\r\n");
    ASSERT_EQ(lf.status, ParseStatus::complete);
    EXPECT_TRUE(lf.request == crlf.request);
    EXPECT_TRUE(mixed.request == crlf.request);
    EXPECT_EQ(lf.request.host, "h");
    // Only a CR right before the LF is removed.
    const Outcome inner = parse_all_ways("GET /a\rb HTTP/1.0\r\r\n\r\n");
    ASSERT_EQ(inner.status, ParseStatus::complete);
    EXPECT_EQ(inner.request.version, "HTTP/1.0\r");
    EXPECT_EQ(inner.request.document_path, "/a\rb");
}

TEST(RequestParser, RequestLineSplitting) {
    // Version after the last blank, command before the first, the target between may hold blanks.
    Outcome o = parse_all_ways("GET /a b.htm HTTP/1.1\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.document_path, "/a b.htm");
    EXPECT_EQ(o.request.version, "HTTP/1.1");

    o = parse_all_ways("GET /x HTTP/1.1 extra\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.version, "extra");
    EXPECT_EQ(o.request.document_path, "/x HTTP/1.1");

    // No second blank: the target is empty.
    o = parse_all_ways("GET HTTP/1.1\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.command, "GET");
    EXPECT_EQ(o.request.document_path, "");
    EXPECT_EQ(o.request.query, "");

    // A trailing blank leaves an empty version.
    o = parse_all_ways("GET /x \r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.version, "");
    EXPECT_EQ(o.request.document_path, "/x");
}

TEST(RequestParser, RejectedRequestLines) {
    for (const char* line : {"GET\r\n", "GET/index.htm\r\n", "\r\n", "\n"}) {
        const Outcome o = parse_all_ways(line);
        EXPECT_EQ(o.status, ParseStatus::reject) << line;
        EXPECT_EQ(o.reason, "Error in parsing command.") << line;
    }
    // Other commands are refused as soon as the request line is in, before any header.
    for (const char* line : {"PUT /a HTTP/1.1\r\n", "OPTIONS * HTTP/1.1\r\n", "DELETE /a HTTP/1.1\r\n",
                             " /a HTTP/1.1\r\n", "GETX /a HTTP/1.1\r\n"}) {
        const Outcome o = parse_all_ways(line);
        EXPECT_EQ(o.status, ParseStatus::reject) << line;
        EXPECT_FALSE(o.reason.empty());
    }
}

TEST(RequestParser, FurtherBytesAfterTheOutcomeAreIgnored) {
    RequestParser p;
    EXPECT_EQ(p.feed("GET /a HTTP/1.0\r\n\r\nGET /b HTTP/1.0\r\n\r\n"), ParseStatus::complete);
    EXPECT_EQ(p.feed("garbage"), ParseStatus::complete);
    EXPECT_EQ(p.end_of_input(), ParseStatus::complete);
    EXPECT_EQ(p.request().document_path, "/a");
    EXPECT_TRUE(p.request().body.empty());

    RequestParser q;
    EXPECT_EQ(q.feed("PUT / HTTP/1.1\r\n"), ParseStatus::reject);
    EXPECT_EQ(q.feed("Host: x\r\n\r\n"), ParseStatus::reject);
}

TEST(RequestParser, IncompleteRequestClosedByClientIsRejected) {
    for (const char* bytes : {"", "GET / HTTP/1.0", "GET / HTTP/1.0\r\nHost: x\r\n",
                              "POST / HTTP/1.0\r\nContent-Length: 5\r\n\r\nab"}) {
        const Outcome o = parse_all_ways(bytes, true);
        EXPECT_EQ(o.status, ParseStatus::reject) << bytes;
    }
    RequestParser p;
    EXPECT_EQ(p.feed("GET / HTTP/1.0\r\n"), ParseStatus::need_more);
}

TEST(RequestParser, BodyWithContentLength) {
    const Outcome o = parse_all_ways(
        "POST /vst.php?NR=3 HTTP/1.1\r\nContent-Length: 5\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n\r\na=1&bEXTRA");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.body, "a=1&b");
    EXPECT_EQ(o.request.content_length, 5);
    EXPECT_EQ(o.request.query, "NR=3");
    EXPECT_EQ(o.request.content_type, "application/x-www-form-urlencoded");

    // Body bytes are taken as they are, line ends included; any command may carry one.
    const Outcome get = parse_all_ways("GET / HTTP/1.0\r\nContent-Length: 4\r\n\r\n\r\n\r\n");
    ASSERT_EQ(get.status, ParseStatus::complete);
    EXPECT_EQ(get.request.body, "\r\n\r\n");

    RequestParser p;
    EXPECT_EQ(p.feed("POST / HTTP/1.0\r\nContent-Length: 3\r\n\r\nab"), ParseStatus::need_more);
    EXPECT_EQ(p.feed("c"), ParseStatus::complete);
}

TEST(RequestParser, PostWithoutUsableLengthReadsUntilClose) {
    for (const char* head : {"POST /a HTTP/1.0\r\n\r\n", "POST /a HTTP/1.0\r\nContent-Length: zwei\r\n\r\n",
                             "POST /a HTTP/1.0\r\nContent-Length:\r\n\r\n"}) {
        const std::string bytes = std::string(head) + "x=1\r\ny=2";
        RequestParser p;
        EXPECT_EQ(p.feed(bytes), ParseStatus::need_more) << head;
        const Outcome o = parse_all_ways(bytes, true);
        ASSERT_EQ(o.status, ParseStatus::complete) << head;
        EXPECT_EQ(o.request.body, "x=1\r\ny=2");
        EXPECT_EQ(o.request.content_length, -1);
    }
    // A number that is not positive is usable: no body.
    for (const char* length : {"0", "-3"}) {
        const Outcome o =
            parse(std::string("POST /a HTTP/1.0\r\nContent-Length: ") + length + "\r\n\r\nrest");
        ASSERT_EQ(o.status, ParseStatus::complete) << length;
        EXPECT_EQ(o.request.body, "");
    }
    // GET and HEAD without a length have no body.
    for (const char* bytes : {"GET /a HTTP/1.0\r\n\r\nrest", "HEAD /a HTTP/1.0\r\n\r\nrest"}) {
        const Outcome o = parse(bytes);
        ASSERT_EQ(o.status, ParseStatus::complete);
        EXPECT_EQ(o.request.body, "");
    }
}

TEST(RequestParser, ContentLengthValues) {
    EXPECT_EQ(parse_content_length("5"), 5);
    EXPECT_EQ(parse_content_length(" 17 "), 17);
    EXPECT_EQ(parse_content_length("+8"), 8);
    EXPECT_EQ(parse_content_length("-1"), -1);
    EXPECT_EQ(parse_content_length("9223372036854775807"), INT64_MAX);
    for (const char* bad : {"", " ", "abc", "5a", "1 2", "0x10", "+", "9223372036854775808",
                            "99999999999999999999"})
        EXPECT_EQ(parse_content_length(bad), std::nullopt) << bad;
}

std::string line_of(size_t length) {
    // "GET /aaa... HTTP/1.1" of exactly the given length.
    const std::string head = "GET /", tail = " HTTP/1.1";
    return head + std::string(length - head.size() - tail.size(), 'a') + tail;
}

TEST(RequestParser, LineLengthLimit) {
    ASSERT_EQ(kMaxLineLength, 16384u);
    for (const char* end : {"\r\n", "\n"}) {
        Outcome o = parse(line_of(16384) + end + "\r\n");
        EXPECT_EQ(o.status, ParseStatus::complete);
        EXPECT_EQ(o.request.request_line.size(), 16384u);
        o = parse(line_of(16385) + end + "\r\n");
        EXPECT_EQ(o.status, ParseStatus::reject);
        EXPECT_EQ(o.reason, "Max line length exceeded.");

        const std::string header = "X: " + std::string(16384 - 3, 'b');
        o = parse(std::string("GET / HTTP/1.1") + end + header + end + end);
        EXPECT_EQ(o.status, ParseStatus::complete);
        o = parse(std::string("GET / HTTP/1.1") + end + header + "b" + end + end);
        EXPECT_EQ(o.status, ParseStatus::reject);
        EXPECT_EQ(o.reason, "Max line length exceeded.");
    }
    // A line over the limit is refused before its end arrives; a CR at the limit may still end it.
    RequestParser p;
    EXPECT_EQ(p.feed(line_of(16384) + "\r"), ParseStatus::need_more);
    EXPECT_EQ(p.feed("\n\r\n"), ParseStatus::complete);
    RequestParser q;
    EXPECT_EQ(q.feed(line_of(16385)), ParseStatus::reject);
    RequestParser r;
    EXPECT_EQ(r.feed(line_of(16384) + "\r\r"), ParseStatus::reject);
    RequestParser s;
    for (int i = 0; i < 16384; ++i) s.feed("a");
    EXPECT_EQ(s.status(), ParseStatus::need_more);
    EXPECT_EQ(s.feed("a"), ParseStatus::reject);
}

TEST(RequestParser, HeaderCountLimit) {
    auto request_with = [](size_t lines) {
        std::string bytes = "GET / HTTP/1.1\r\n";
        for (size_t i = 0; i < lines; ++i) bytes += "X-" + std::to_string(i) + ": v\r\n";
        return bytes + "\r\n";
    };
    Outcome o = parse(request_with(kMaxHeaderLines));
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.headers.size(), kMaxHeaderLines);
    o = parse(request_with(kMaxHeaderLines + 1));
    EXPECT_EQ(o.status, ParseStatus::reject);
}

TEST(RequestParser, BodySizeLimit) {
    const std::string max = std::to_string(kMaxBodyBytes);
    const std::string over = std::to_string(kMaxBodyBytes + 1);
    RequestParser p;
    EXPECT_EQ(p.feed("POST / HTTP/1.1\r\nContent-Length: " + max + "\r\n\r\n"), ParseStatus::need_more);
    EXPECT_EQ(p.feed(std::string(kMaxBodyBytes, 'z')), ParseStatus::complete);
    EXPECT_EQ(p.request().body.size(), kMaxBodyBytes);

    // Refused on the announced length alone, before any body byte.
    RequestParser q;
    EXPECT_EQ(q.feed("POST / HTTP/1.1\r\nContent-Length: " + over + "\r\n\r\n"),
              ParseStatus::body_too_large);
    RequestParser huge;
    EXPECT_EQ(huge.feed("GET / HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n"),
              ParseStatus::body_too_large);

    // Read until close: refused once the bytes pass the limit.
    RequestParser r;
    r.feed("POST / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.feed(std::string(kMaxBodyBytes, 'z')), ParseStatus::need_more);
    EXPECT_EQ(r.feed("z"), ParseStatus::body_too_large);
    EXPECT_EQ(r.end_of_input(), ParseStatus::body_too_large);
}

TEST(RequestParser, BasicAuthorization) {
    // "user:pa:ss" and "Schütze:" (Windows-1252) in Base64.
    Outcome o = parse_all_ways("GET / HTTP/1.1\r\nAuthorization: Basic dXNlcjpwYTpzcw==\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_TRUE(o.request.authorization.present);
    EXPECT_EQ(o.request.authorization.user, "user");
    EXPECT_EQ(o.request.authorization.password, "pa:ss");

    o = parse_all_ways("GET / HTTP/1.1\r\nauthorization: bAsIc U2No/HR6ZTo=\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.authorization.user, "Sch\xFCtze");
    EXPECT_EQ(o.request.authorization.password, "");

    // "anon" without a colon: all of it is the user name.
    o = parse_all_ways("GET / HTTP/1.1\r\nAuthorization: Basic YW5vbg==\r\n\r\n");
    EXPECT_EQ(o.request.authorization.user, "anon");

    o = parse_all_ways("GET / HTTP/1.1\r\n\r\n");
    EXPECT_FALSE(o.request.authorization.present);
}

TEST(RequestParser, OtherAuthorizationSchemesRejected) {
    for (const char* value : {"Digest username=\"a\", realm=\"b\"", "Bearer abc", "BasicX abc", "Digest"}) {
        const Outcome o =
            parse_all_ways(std::string("GET / HTTP/1.1\r\nAuthorization: ") + value + "\r\n\r\n");
        EXPECT_EQ(o.status, ParseStatus::reject) << value;
        EXPECT_EQ(o.reason, "Unsupported authorization scheme.") << value;
    }
}

TEST(RequestParser, Base64Decoding) {
    EXPECT_EQ(decode_base64(""), "");
    EXPECT_EQ(decode_base64("TQ=="), "M");
    EXPECT_EQ(decode_base64("TWE="), "Ma");
    EXPECT_EQ(decode_base64("TWFu"), "Man");
    EXPECT_EQ(decode_base64("TW Fu\r\n"), "Man");
    EXPECT_EQ(decode_base64("/w=="), "\xFF");
}

TEST(RequestParser, AbsoluteTarget) {
    Outcome o = parse_all_ways("GET http://halle.local:8080/Web%20Seite/vst.php?NR=1 HTTP/1.1\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.document_path, "/Web Seite/vst.php");
    EXPECT_EQ(o.request.query, "NR=1");
    EXPECT_EQ(o.request.host, "halle.local:8080");

    o = parse_all_ways("GET http://halle.local/a.htm HTTP/1.1\r\nHost: andere\r\n\r\n");
    ASSERT_EQ(o.status, ParseStatus::complete);
    EXPECT_EQ(o.request.document_path, "/a.htm");
    EXPECT_EQ(o.request.host, "andere");

    o = parse_all_ways("GET https://halle.local HTTP/1.1\r\n\r\n");
    EXPECT_EQ(o.request.document_path, "/");
    EXPECT_EQ(o.request.host, "halle.local");

    o = parse_all_ways("GET http://halle.local?x=1 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(o.request.document_path, "/");
    EXPECT_EQ(o.request.query, "x=1");

    // "://" inside a relative target's query is no scheme.
    o = parse_all_ways("GET /a.php?u=http://b/c HTTP/1.1\r\n\r\n");
    EXPECT_EQ(o.request.document_path, "/a.php");
    EXPECT_EQ(o.request.query, "u=http://b/c");
    EXPECT_EQ(o.request.host, "");
}

TEST(RequestParser, RandomBytesEndInAState) {
    std::mt19937 rng(20261209);
    const std::vector<std::string> pieces = {
        "GET ", "POST ", "HEAD ", "PUT ", "get ", " ", "/", "?", "%", "%4", "%41", "=", "\r", "\n",
        "\r\n", "\r\n\r\n", ": ", "Content-Length: ", "Content-Length: 3", "Authorization: Basic ",
        "Authorization: Digest ", "Host: h", "http://", "HTTP/1.1", "0", "9", "-", "a", "\xC4", "\0"};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        const int count = int(rng() % 40);
        for (int i = 0; i < count; ++i) {
            if (rng() % 4 == 0)
                bytes += char(rng() % 256);
            else
                bytes += pieces[rng() % pieces.size()];
        }
        RequestParser whole;
        whole.feed(bytes);
        RequestParser pieces_fed;
        size_t at = 0;
        while (at < bytes.size()) {
            const size_t n = std::min<size_t>(bytes.size() - at, 1 + rng() % 7);
            pieces_fed.feed(std::string_view(bytes).substr(at, n));
            at += n;
        }
        ASSERT_EQ(pieces_fed.status(), whole.status()) << round;
        ASSERT_TRUE(pieces_fed.request() == whole.request()) << round;
        const ParseStatus end = whole.end_of_input();
        ASSERT_NE(end, ParseStatus::need_more) << round;
        if (end == ParseStatus::complete) {
            const std::string& c = whole.request().command;
            ASSERT_TRUE(c == "GET" || c == "POST" || c == "HEAD") << round;
        } else {
            ASSERT_FALSE(whole.reason().empty()) << round;
        }
    }
}

}  // namespace
}  // namespace ringolan::server
