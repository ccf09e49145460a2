// Reading multipart/form-data bodies, the upload's body first.
#include "site/multipart.h"

#include <gtest/gtest.h>

using namespace ringolan::site;

namespace {

const std::string B = "--------------------------120709143005123";

// The body an upload posts for one table, byte for byte.
std::string upload_body(std::string_view file_bytes) {
    return "--" + B + "\r\nContent-Disposition: form-data; name=\"was\"\r\n\r\ndoit\r\n" + "--" + B +
           "\r\nContent-Disposition: form-data; name=\"bild\"; filename=\"C:\\Programme\\Ringolan\\dclub1.sql.gz\"\r\n"
           "Content-Type: application/msword\r\n\r\n" +
           std::string(file_bytes) + "\r\n--" + B + "--\r\n";
}

}  // namespace

TEST(Multipart, TheUploadBodyGivesTheFieldAndTheFileUnchanged) {
    // File bytes holding a NUL, CRLFs and a dash run that is not the delimiter.
    const std::string file("\x1f\x8b\x08\x00\r\n--\r\n---------------------------\x00\xff", 37);
    const std::vector<FormPart> parts = parse_multipart(upload_body(file), B);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].name, "was");
    EXPECT_FALSE(parts[0].filename);
    EXPECT_EQ(parts[0].data, "doit");
    EXPECT_EQ(parts[1].name, "bild");
    EXPECT_EQ(parts[1].filename, "C:\\Programme\\Ringolan\\dclub1.sql.gz");
    EXPECT_EQ(parts[1].content_type, "application/msword");
    EXPECT_EQ(parts[1].data, file);
    EXPECT_EQ(find_part(parts, "bild"), &parts[1]);
    EXPECT_EQ(find_part(parts, "nix"), nullptr);
}

TEST(Multipart, EmptyFileAndValuesWithLineBreaks) {
    EXPECT_EQ(parse_multipart(upload_body(""), B)[1].data, "");
    const std::string body = "--" + B + "\r\nContent-Disposition: form-data; name=\"t\"\r\n\r\n50%\r\nx\r\n--" + B + "--\r\n";
    EXPECT_EQ(parse_multipart(body, B)[0].data, "50%\r\nx");
}

TEST(Multipart, PreambleEpilogueAndHeaderSpelling) {
    const std::string body = "preamble\r\n--" + B + "  \r\ncontent-disposition:form-data;name=x;filename=\"a;b.gz\"\r\n"
                             "CONTENT-TYPE: text/plain\r\n\r\nv\r\n--" + B + "--\r\nepilogue";
    const std::vector<FormPart> parts = parse_multipart(body, B);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].name, "x");
    EXPECT_EQ(parts[0].filename, "a;b.gz");
    EXPECT_EQ(parts[0].content_type, "text/plain");
    EXPECT_EQ(parts[0].data, "v");
}

TEST(Multipart, BodyWithoutPartsGivesNone) {
    EXPECT_TRUE(parse_multipart("\r\n--" + B + "--\r\n", B).empty());
}

TEST(Multipart, BrokenBodiesAreRefused) {
    const std::string part = "--" + B + "\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\nv";
    EXPECT_THROW(parse_multipart(part, B), MultipartError);                                   // no closing delimiter
    EXPECT_THROW(parse_multipart("no delimiter here", B), MultipartError);
    EXPECT_THROW(parse_multipart("--" + B + "\r\nContent-Type: a/b\r\n\r\nv\r\n--" + B + "--", B),
                 MultipartError);                                                             // no disposition
    EXPECT_THROW(parse_multipart("--" + B + "\r\nContent-Disposition: form-data\r\n\r\nv\r\n--" + B + "--", B),
                 MultipartError);                                                             // no name
    EXPECT_THROW(parse_multipart("--" + B + "\r\nContent-Disposition: form-data; name=x\r\nv\r\n--" + B + "--", B),
                 MultipartError);                                                             // no empty line
    // A delimiter with another boundary does not end the part.
    EXPECT_THROW(parse_multipart(part + "\r\n--other--\r\n", B), MultipartError);
}

TEST(MultipartBoundary, FromTheContentType) {
    EXPECT_EQ(form_boundary("multipart/form-data; boundary=" + B), B);
    EXPECT_EQ(form_boundary("Multipart/Form-Data;boundary=\"a b;c\""), "a b;c");
    EXPECT_EQ(form_boundary("multipart/form-data; charset=x; boundary=zz ; y=1"), "zz");
    EXPECT_THROW(form_boundary("application/octet-stream; boundary=x"), MultipartError);
    EXPECT_THROW(form_boundary("multipart/form-data"), MultipartError);
    EXPECT_THROW(form_boundary("multipart/form-data; boundary="), MultipartError);
    EXPECT_THROW(form_boundary(""), MultipartError);
}
