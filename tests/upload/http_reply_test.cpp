// The reply parser fed whole, byte by byte and in every two-way split.
#include <gtest/gtest.h>

#include <random>

#include "upload/http_reply.h"

namespace ringolan::upload {
namespace {

struct Parsed {
    std::string status_line;
    int status;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::size_t used;  // bytes taken
};

// Feeds the pieces in order, stopping once the reply is done; closes the connection at the end
// when close_at_end is set.
Parsed parse(const std::vector<std::string_view>& pieces, bool close_at_end) {
    ReplyParser parser;
    std::string body;
    std::size_t used = 0;
    for (std::string_view piece : pieces) {
        if (parser.done()) break;
        used += parser.feed(piece);
        body += parser.take_body();
    }
    if (close_at_end) parser.finish();
    body += parser.take_body();
    EXPECT_TRUE(parser.done());
    return {parser.head().status_line, parser.head().status, parser.head().headers, body, used};
}

// The same outcome for the whole text, byte by byte and every split into two pieces.
Parsed parse_every_way(std::string_view text, bool close_at_end = false) {
    Parsed whole = parse({text}, close_at_end);
    std::vector<std::string_view> bytes;
    for (std::size_t i = 0; i < text.size(); ++i) bytes.push_back(text.substr(i, 1));
    Parsed single = parse(bytes, close_at_end);
    EXPECT_EQ(single.body, whole.body);
    EXPECT_EQ(single.headers, whole.headers);
    EXPECT_EQ(single.used, whole.used);
    for (std::size_t cut = 1; cut < text.size(); ++cut) {
        Parsed two = parse({text.substr(0, cut), text.substr(cut)}, close_at_end);
        EXPECT_EQ(two.body, whole.body) << "split at " << cut;
        EXPECT_EQ(two.status, whole.status) << "split at " << cut;
        EXPECT_EQ(two.used, whole.used) << "split at " << cut;
    }
    return whole;
}

TEST(ReplyFraming, ContentLengthTakesExactlyThatManyBytes) {
    std::string text = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n12345EXTRA";
    Parsed p = parse_every_way(text);
    EXPECT_EQ(p.status_line, "HTTP/1.1 200 OK");
    EXPECT_EQ(p.status, 200);
    EXPECT_EQ(p.body, "12345");
    EXPECT_EQ(p.used, text.size() - 5) << "bytes after the reply are left over";
}

TEST(ReplyFraming, ChunkedBodyWithExtensionsAndTrailers) {
    Parsed p = parse_every_way(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n"
        "4\r\nWiki\r\n5 ; x=y\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nExpires: never\r\n\r\n");
    EXPECT_EQ(p.body, "Wikipedia in\r\n\r\nchunks.");
}

TEST(ReplyFraming, LengthAboveZeroWinsOverChunkedAndZeroLengthDefersToIt) {
    EXPECT_EQ(parse_every_way("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n1\r\nx").body,
              "1\r\n");
    EXPECT_EQ(parse_every_way("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nTransfer-Encoding: chunked\r\n\r\n"
                              "1\r\nx\r\n0\r\n\r\n").body,
              "x");
}

TEST(ReplyFraming, WithoutLengthTheBodyRunsToTheEndOfTheConnection) {
    Parsed p = parse_every_way("HTTP/1.0 200 OK\r\nServer: x\r\n\r\nall of\r\nthis", true);
    EXPECT_EQ(p.body, "all of\r\nthis");
}

TEST(ReplyFraming, NoContentAndZeroLengthEndWithTheHead) {
    EXPECT_EQ(parse_every_way("HTTP/1.1 204 No Content\r\n\r\nNEXT").used, 27u);
    Parsed zero = parse_every_way("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nNEXT");
    EXPECT_EQ(zero.body, "");
    EXPECT_EQ(zero.used, 38u);
}

TEST(ReplyHeads, InterimContinueHeadsAreSkipped) {
    Parsed p = parse_every_way("HTTP/1.1 100 Continue\r\nA: 1\r\n\r\nHTTP/1.1 404 Not Found\r\nB: 2\r\nContent-Length: 1\r\n\r\nx");
    EXPECT_EQ(p.status_line, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(p.status, 404);
    ASSERT_EQ(p.headers.size(), 2u);
    EXPECT_EQ(p.headers[0].first, "B") << "headers of the interim head are gone";
}

TEST(ReplyHeads, FoldedLinesJoinWithOneBlankAndLoneLineFeedsEndLines) {
    Parsed p = parse_every_way("HTTP/1.1 200 OK\nX-Long: first\n   second\r\n\tthird  \nContent-Length: 0\n\n");
    ASSERT_EQ(p.headers.size(), 2u);
    EXPECT_EQ(p.headers[0], (std::pair<std::string, std::string>{"X-Long", "first second third"}));
}

TEST(ReplyHeads, LookupIgnoresLetterCase) {
    ReplyParser parser;
    parser.feed("HTTP/1.1 200 OK\r\nset-cookie: a=1\r\nSET-COOKIE: b=2\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(parser.head().find("Set-Cookie"), "a=1");
    EXPECT_EQ(parser.head().all("set-Cookie"), (std::vector<std::string>{"a=1", "b=2"}));
    EXPECT_FALSE(parser.head().find("Location"));
}

TEST(ReplyHeads, StatusCodeIsTheWordAfterTheFirstBlank) {
    EXPECT_EQ(status_code_of("HTTP/1.1 404 Not Found"), 404);
    EXPECT_EQ(status_code_of("HTTP/1.0 200"), 200);
    EXPECT_EQ(status_code_of("HTTP/1.1 2OO OK"), -1);
    EXPECT_EQ(status_code_of("HTTP/1.1  200 OK"), -1);
    EXPECT_EQ(status_code_of("<html>"), -1);
    EXPECT_EQ(status_code_of("HTTP/1.1 99999999999 Big"), -1);
}

TEST(ReplyErrors, MalformedRepliesAreRefused) {
    auto fails = [](std::string_view text) -> ::testing::AssertionResult {
        ReplyParser parser;
        try {
            parser.feed(text);
            parser.finish();
        } catch (const ReplyFormatError&) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "accepted: " << text.substr(0, 100);
    };
    EXPECT_TRUE(fails("HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\n"));
    EXPECT_TRUE(fails("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n"));
    EXPECT_TRUE(fails("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc"));
    EXPECT_TRUE(fails("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"));
    EXPECT_TRUE(fails("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n"));
    EXPECT_TRUE(fails("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort"));
    EXPECT_TRUE(fails("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n"));
    EXPECT_TRUE(fails(""));
    EXPECT_TRUE(fails("HTTP/1.1 200 OK\r\n" + std::string(70000, 'x')));
}

TEST(ReplyErrors, EndOfConnectionCompletesOnlyAnOpenEndedBody) {
    ReplyParser parser;
    parser.feed("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_NO_THROW(parser.finish());
    ReplyParser open_ended;
    open_ended.feed("HTTP/1.1 200 OK\r\n\r\n");
    EXPECT_FALSE(open_ended.done());
    open_ended.finish();
    EXPECT_TRUE(open_ended.done());
    EXPECT_TRUE(open_ended.until_close());
}

// Random bytes with a valid start, fed in random pieces: no crash, and the outcome (error or
// result) does not depend on how the bytes were split.
TEST(ReplyFuzz, OutcomeDoesNotDependOnTheSplit) {
    std::mt19937 rng(20261209);
    const std::string alphabet = "0123456789abcdefABCDEF \t\r\n:;-HTTPCntLgsfrEcodik/.";
    const std::vector<std::string> starts = {"HTTP/1.1 200 OK\r\n", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                                             "HTTP/1.1 100 Continue\r\n\r\n", ""};
    for (int round = 0; round < 3000; ++round) {
        std::string text = starts[rng() % starts.size()];
        std::size_t n = rng() % 120;
        for (std::size_t i = 0; i < n; ++i)
            text += rng() % 8 == 0 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
        auto outcome = [&](std::size_t max_piece) {
            ReplyParser parser;
            std::string result;
            try {
                std::string_view rest = text;
                while (!rest.empty() && !parser.done()) {
                    std::size_t piece = max_piece == 0 ? rest.size() : 1 + rng() % max_piece;
                    parser.feed(rest.substr(0, piece));
                    rest.remove_prefix(std::min(piece, rest.size()));
                    result += parser.take_body();
                }
                parser.finish();
                result += parser.take_body();
                return "ok " + std::to_string(parser.head().status) + " " + result;
            } catch (const ReplyFormatError&) {
                return std::string("error");
            }
        };
        std::string whole = outcome(0);
        EXPECT_EQ(outcome(1), whole) << text;
        EXPECT_EQ(outcome(7), whole) << text;
    }
}

}  // namespace
}  // namespace ringolan::upload
