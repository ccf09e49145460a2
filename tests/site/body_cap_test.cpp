// The request body cap that the site raises above the page server's.
#include "server/http_request.h"

#include <gtest/gtest.h>

using namespace ringolan::server;

namespace {

std::string post(std::size_t length) {
    return "POST /ergebnisse/5.php HTTP/1.0\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" +
           std::string(length, 'x');
}

}  // namespace

TEST(BodyCap, DefaultsToThePageServersLimit) {
    RequestParser at_cap;
    EXPECT_EQ(at_cap.feed(post(kMaxBodyBytes)), ParseStatus::complete);
    RequestParser above;
    EXPECT_EQ(above.feed(post(kMaxBodyBytes + 1)), ParseStatus::body_too_large);
}

TEST(BodyCap, AGivenCapHoldsForCountedAndUntilCloseBodies) {
    RequestParser larger(kMaxBodyBytes * 3);
    EXPECT_EQ(larger.feed(post(kMaxBodyBytes * 3)), ParseStatus::complete);
    EXPECT_EQ(larger.request().body.size(), kMaxBodyBytes * 3);

    RequestParser small(10);
    EXPECT_EQ(small.feed(post(11)), ParseStatus::body_too_large);
    RequestParser until_close(10);
    EXPECT_EQ(until_close.feed("POST / HTTP/1.0\r\n\r\n0123456789"), ParseStatus::need_more);
    EXPECT_EQ(until_close.feed("x"), ParseStatus::body_too_large);
}
