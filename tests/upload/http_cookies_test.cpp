// Cookies per host: storing, matching, replacing and expiring.
#include <gtest/gtest.h>

#include "upload/http_cookies.h"

namespace ringolan::upload {
namespace {

using namespace std::chrono_literals;
const auto kNow = std::chrono::system_clock::from_time_t(1'800'000'000);

TEST(Cookies, SentToTheSameHostInTheOrderSet) {
    CookieJar jar;
    jar.store("Site.Example", "/ergebnisse/loeschen.php", "sid=abc; Path=/; HttpOnly", kNow);
    jar.store("site.example", "/ergebnisse/loeschen.php", "lang=de", kNow);
    EXPECT_EQ(jar.header_for("site.example", "/ergebnisse/anzahl.php", false, kNow), "sid=abc; lang=de");
    EXPECT_EQ(jar.header_for("other.example", "/ergebnisse/anzahl.php", false, kNow), "");
    EXPECT_EQ(jar.header_for("www.site.example", "/ergebnisse/anzahl.php", false, kNow), "");
}

TEST(Cookies, DefaultPathIsTheRequestsFolder) {
    CookieJar jar;
    jar.store("h", "/ergebnisse/5.php", "a=1", kNow);
    EXPECT_EQ(jar.header_for("h", "/ergebnisse/einfuegen.php", false, kNow), "a=1");
    EXPECT_EQ(jar.header_for("h", "/ergebnisse", false, kNow), "a=1");
    EXPECT_EQ(jar.header_for("h", "/ergebnisse2/x.php", false, kNow), "");
    EXPECT_EQ(jar.header_for("h", "/", false, kNow), "");
    jar.store("h", "/top.php", "b=2", kNow);
    EXPECT_EQ(jar.header_for("h", "/anything/deep", false, kNow), "b=2");
}

TEST(Cookies, SameNameAndPathReplacesInPlace) {
    CookieJar jar;
    jar.store("h", "/", "a=1", kNow);
    jar.store("h", "/", "b=2", kNow);
    jar.store("h", "/", "a=3", kNow);
    EXPECT_EQ(jar.header_for("h", "/x", false, kNow), "a=3; b=2");
}

TEST(Cookies, LifetimeEnds) {
    CookieJar jar;
    jar.store("h", "/", "a=1; Max-Age=60", kNow);
    jar.store("h", "/", "b=2; expires=Thu, 01-Jan-1970 00:00:01 GMT", kNow);
    jar.store("h", "/", "c=3; Expires=Fri, 01 Jan 2100 00:00:00 GMT", kNow);
    EXPECT_EQ(jar.header_for("h", "/", false, kNow), "a=1; c=3");
    EXPECT_EQ(jar.header_for("h", "/", false, kNow + 61s), "c=3");
    jar.store("h", "/", "c=deleted; Max-Age=0; expires=Fri, 01 Jan 2100 00:00:00 GMT", kNow);
    EXPECT_EQ(jar.header_for("h", "/", false, kNow), "a=1") << "Max-Age comes before Expires";
}

TEST(Cookies, SecureOnlyOverTls) {
    CookieJar jar;
    jar.store("h", "/", "s=1; Secure", kNow);
    EXPECT_EQ(jar.header_for("h", "/", false, kNow), "");
    EXPECT_EQ(jar.header_for("h", "/", true, kNow), "s=1");
}

TEST(Cookies, MalformedSetCookieIsIgnored) {
    CookieJar jar;
    jar.store("h", "/", "novalue", kNow);
    jar.store("h", "/", "=1", kNow);
    jar.store("h", "/", "", kNow);
    jar.store("h", "/", "a=1; Max-Age=99999999999999999999", kNow);
    jar.store("h", "/", "b=2; Max-Age=9000000000000000000", kNow);
    EXPECT_EQ(jar.header_for("h", "/", false, kNow + 24h), "a=1; b=2");
}

TEST(Cookies, HttpDates) {
    // 784111777 is the Unix time of Sun, 06 Nov 1994 08:49:37 GMT.
    auto expected = std::chrono::system_clock::from_time_t(784111777);
    EXPECT_EQ(parse_http_date("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
    EXPECT_EQ(parse_http_date("Sunday, 06-Nov-94 08:49:37 GMT"), expected);
    EXPECT_FALSE(parse_http_date("yesterday"));
    EXPECT_FALSE(parse_http_date("Sun, 06 Foo 1994 08:49:37 GMT"));
}

}  // namespace
}  // namespace ringolan::upload
