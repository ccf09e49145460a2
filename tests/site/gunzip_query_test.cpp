// Unpacking uploaded gzip files, and query values.
#include "site/gunzip.h"
#include "site/query.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "site_test_util.h"

using namespace ringolan::site;

namespace {

std::string gunzip_error(std::string_view bytes, std::size_t max = kMaxUnpackedBytes) {
    try {
        gunzip(bytes, max);
    } catch (const GzipError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(Gunzip, ReadsBackWhatZlibPacked) {
    const std::string text = "#*iv#*'1','a');\r\n" + site_test::noise(200000);
    EXPECT_EQ(gunzip(site_test::gzip(text)), text);
    EXPECT_EQ(gunzip(site_test::gzip("")), "");
}

TEST(Gunzip, ReadsTheUploadsMemberWithItsFileName) {
    // Header 1F 8B 08, flags 08 (name), mtime 0, extra flags 0, OS 0, the name and a zero
    // byte; raw deflate at level 6; CRC-32 and length low byte first.
    const std::string text = "#*iv#*'1','SV Eins');\r\n#*iv#*'2','Zwei');\r\n";
    std::string member("\x1f\x8b\x08\x08\0\0\0\0\0\0", 10);
    member += std::string("dclub1.sql") + '\0';
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string raw(deflateBound(&z, uLong(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef*>(raw.data());
    z.avail_out = uInt(raw.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    raw.resize(z.total_out);
    deflateEnd(&z);
    member += raw;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(text.data()), uInt(text.size()));
    for (uLong v : {crc, uLong(text.size())})
        for (int i = 0; i < 4; ++i) member += char((v >> (8 * i)) & 0xFF);
    EXPECT_EQ(gunzip(member), text);
}

TEST(Gunzip, RefusesWhatIsNotOneWholeMember) {
    const std::string good = site_test::gzip(site_test::noise(5000));
    EXPECT_EQ(gunzip_error("#*iv#*'1');"), "the file is not gzip-compressed");
    EXPECT_EQ(gunzip_error(""), "the file is not gzip-compressed");
    EXPECT_EQ(gunzip_error(good.substr(0, good.size() - 4)), "the gzip file is truncated");  // length missing
    EXPECT_EQ(gunzip_error(good.substr(0, good.size() / 2)), "the gzip file is truncated");
    EXPECT_EQ(gunzip_error(good.substr(0, 12)), "the gzip file is truncated");

    std::string bad_crc = good;
    bad_crc[bad_crc.size() - 6] ^= 0x55;
    EXPECT_NE(gunzip_error(bad_crc).find("damaged"), std::string::npos);
    std::string bad_size = good;  // a stated size one byte short
    bad_size[bad_size.size() - 4] = char(bad_size[bad_size.size() - 4] - 1);
    EXPECT_NE(gunzip_error(bad_size).find("damaged"), std::string::npos);
    EXPECT_EQ(gunzip_error(good + "x"), "the gzip file has data after its end");
    EXPECT_EQ(gunzip_error(good + good), "the gzip file has data after its end");  // one member only
    EXPECT_NE(gunzip_error(good, 4999).find("larger than 4999"), std::string::npos);
    EXPECT_EQ(gunzip(good, 5000).size(), 5000u);
}

TEST(Query, PercentDecoding) {
    EXPECT_EQ(percent_decode("a%26b%20%23%2B%25%5C"), "a&b #+%\\");
    EXPECT_EQ(percent_decode("%e4%C4"), "\xe4\xc4");
    EXPECT_EQ(percent_decode("a+b"), "a+b");  // "+" is a plus
    EXPECT_EQ(percent_decode("%zz%4%"), "%zz%4%");
    EXPECT_EQ(percent_decode("%00x"), std::string("\0x", 2));
}

TEST(Query, ValuesByKey) {
    const std::string q = "id=club1&pw=a%26b&tabelle=&flag&pw=second&%69d2=x";
    EXPECT_EQ(query_value(q, "id"), "club1");
    EXPECT_EQ(query_value(q, "pw"), "a&b");  // the first of two
    EXPECT_EQ(query_value(q, "tabelle"), "");
    EXPECT_EQ(query_value(q, "flag"), "");
    EXPECT_EQ(query_value(q, "id2"), "x");
    EXPECT_EQ(query_value(q, "i"), std::nullopt);
    EXPECT_EQ(query_value("", "id"), std::nullopt);
    // An unencoded password is cut at "&", as any site would read it.
    EXPECT_EQ(query_value("id=1&pw=a&b", "pw"), "a");
}

TEST(Query, EncodingRoundTrip) {
    const std::string raw = "a&b #+%\\/\xe4";
    EXPECT_EQ(percent_encode(raw), "a%26b%20%23%2B%25%5C%2F%E4");
    EXPECT_EQ(percent_decode(percent_encode(raw)), raw);
}
