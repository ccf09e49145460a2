// Splitting addresses and encoding query values.
#include <gtest/gtest.h>

#include "upload/http_address.h"
#include "upload/site_addresses.h"

namespace ringolan::upload {
namespace {

// A site's decoding of a query value: "%XX" to the byte, "+" to a blank when plus_is_blank.
std::string site_decode(std::string_view text, bool plus_is_blank) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += plus_is_blank && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

TEST(Addresses, PartsOfAnAddress) {
    Address a = parse_address("http://results.example:8080/ergebnisse/anzahl.php?id=x&tabelle=s");
    EXPECT_FALSE(a.tls);
    EXPECT_EQ(a.host, "results.example");
    EXPECT_EQ(a.port, 8080);
    EXPECT_EQ(a.target, "/ergebnisse/anzahl.php?id=x&tabelle=s");
    EXPECT_EQ(a.host_header(), "results.example:8080");

    Address plain = parse_address("HTTP://Results.Example/ergebnisse/");
    EXPECT_EQ(plain.port, 80);
    EXPECT_EQ(plain.host_header(), "Results.Example") << "no port in Host for port 80";

    Address secure = parse_address("https://results.example/x");
    EXPECT_TRUE(secure.tls);
    EXPECT_EQ(secure.port, 443);
    EXPECT_EQ(secure.host_header(), "results.example");
    EXPECT_EQ(parse_address("https://results.example:80/x").host_header(), "results.example:80");
}

TEST(Addresses, BackslashesFragmentsAndMissingParts) {
    EXPECT_EQ(parse_address("http:\\\\h\\ergebnisse\\5.php?id=a\\b").target, "/ergebnisse/5.php?id=a/b");
    EXPECT_EQ(parse_address("http://h/ergebnisse/loeschen.php?id=a&pw=se#cret").target,
              "/ergebnisse/loeschen.php?id=a&pw=se");
    EXPECT_EQ(parse_address("http://h").target, "/");
    EXPECT_EQ(parse_address("http://h?x=1").target, "/?x=1");
    EXPECT_EQ(parse_address("h:81/a").port, 81) << "no scheme means http";
    EXPECT_EQ(parse_address("http://h/a b\tc").target, "/a%20b%09c");
}

TEST(Addresses, Ipv6Literal) {
    Address a = parse_address("http://[::1]:8080/x");
    EXPECT_EQ(a.host, "::1");
    EXPECT_EQ(a.port, 8080);
    EXPECT_EQ(a.host_header(), "[::1]:8080");
}

TEST(Addresses, RefusedAddresses) {
    EXPECT_THROW(parse_address("ftp://h/x"), AddressError);
    EXPECT_THROW(parse_address("http:///x"), AddressError);
    EXPECT_THROW(parse_address("http://h:0/x"), AddressError);
    EXPECT_THROW(parse_address("http://h:65536/x"), AddressError);
    EXPECT_THROW(parse_address("http://h:8o/x"), AddressError);
    EXPECT_THROW(parse_address("http://[::1/x"), AddressError);
}

TEST(Addresses, SameOriginNeedsSchemeHostAndPort) {
    Address a = parse_address("http://H:8080/a");
    EXPECT_TRUE(a.same_origin(parse_address("http://h:8080/b?c")));
    EXPECT_FALSE(a.same_origin(parse_address("http://h:8081/a")));
    EXPECT_FALSE(a.same_origin(parse_address("https://h:8080/a")));
    EXPECT_FALSE(a.same_origin(parse_address("http://g:8080/a")));
}

TEST(QueryValues, CharactersThatWouldChangeOrCutAValueAreEncoded) {
    EXPECT_EQ(percent_encode("a b&c#d+e%f\\g"), "a%20b%26c%23d%2Be%25f%5Cg");
    EXPECT_EQ(percent_encode("Müller"), "M%C3%BCller");
    EXPECT_EQ(percent_encode("\xFC"), "%FC") << "8-bit text is sent byte for byte";
    EXPECT_EQ(percent_encode("Az09-._~"), "Az09-._~");
}

TEST(QueryValues, EveryByteComesBackFromEitherDecoding) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    std::string encoded = percent_encode(all);
    EXPECT_EQ(encoded.find_first_of(" &#+=?/\\"), std::string::npos);
    EXPECT_EQ(site_decode(encoded, true), all);
    EXPECT_EQ(site_decode(encoded, false), all);
}

TEST(QueryValues, BuiltAddressSurvivesParsing) {
    std::string address = build_address("http://h:8080/", "/ergebnisse/loeschen.php", {{"id", "Club #1"}, {"pw", "a\\b"}});
    EXPECT_EQ(address, "http://h:8080/ergebnisse/loeschen.php?id=Club%20%231&pw=a%5Cb");
    EXPECT_EQ(parse_address(address).target, "/ergebnisse/loeschen.php?id=Club%20%231&pw=a%5Cb");
    EXPECT_EQ(build_address("http://h", "/ergebnisse/5.php", {{"id", ""}}), "http://h/ergebnisse/5.php?id=");
}

TEST(SiteAddresses, TheFourRequestsOfARun) {
    const std::string base = "https://results.example:8443/";
    EXPECT_EQ(delete_address(base, "SV 1", "p&w"), "https://results.example:8443/ergebnisse/loeschen.php?id=SV%201&pw=p%26w");
    EXPECT_EQ(upload_address(base, "SV 1"), "https://results.example:8443/ergebnisse/5.php?id=SV%201");
    EXPECT_EQ(insert_address(base, "SV 1", "p&w"), "https://results.example:8443/ergebnisse/einfuegen.php?id=SV%201&pw=p%26w");
    EXPECT_EQ(count_address(base, "SV 1", "wettb_opt_def"),
              "https://results.example:8443/ergebnisse/anzahl.php?id=SV%201&tabelle=wettb_opt_def");
}

}  // namespace
}  // namespace ringolan::upload
