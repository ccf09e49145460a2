#include "upload/multipart.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/upload/upload_fixture.h"

using namespace ringolan;
using namespace ringolan::test_upload;
using upload::LocalTime;
using upload::MultipartBody;

namespace {

const LocalTime kAt{2006, 12, 7, 14, 30, 5, 123};  // 14:30:05.123 on 7 December 2006
const std::string kB = "--------------------------120706143005123";

}  // namespace

TEST(Multipart, BoundaryFromTheLocalTime) {
    EXPECT_EQ(upload::form_boundary(kAt), kB);
    EXPECT_EQ(kB.size(), 41u);
    // every field two digits, milliseconds three, hours 0..23
    EXPECT_EQ(upload::form_boundary({2010, 1, 2, 0, 4, 9, 7}), std::string(26, '-') + "010210000409007");
    EXPECT_EQ(upload::form_boundary({1999, 11, 30, 23, 59, 59, 999}), std::string(26, '-') + "113099235959999");

    MultipartBody body(kAt);
    EXPECT_EQ(body.boundary(), kB);
    EXPECT_EQ(body.content_type(), "multipart/form-data; boundary=" + kB);
    // two bodies of the same millisecond share the boundary
    EXPECT_EQ(MultipartBody(kAt).boundary(), body.boundary());

    const MultipartBody now;
    ASSERT_EQ(now.boundary().size(), 41u);
    EXPECT_EQ(now.boundary().find_first_not_of("0123456789", 26), std::string::npos);
}

TEST(Multipart, EmptyBodyIsTheClosingDelimiterOnly) {
    MultipartBody body(kAt);
    EXPECT_EQ(body.size(), 0u);
    body.finish();
    EXPECT_EQ(body.bytes(), "\r\n--" + kB + "--\r\n");
    EXPECT_EQ(body.position(), 0u);
}

// The upload's body: the field "was" and the gzip file as "bild", byte for byte.
TEST(Multipart, UploadBodyByteExact) {
    const std::string gz("\x1F\x8B\x08\x08\0\0\0\0\0\0dclub.sql\0\x03\0\0\0\0\0\0\0\0\0", 30);
    const fs::path file = scratch_dir() / "dclub.sql.gz";
    write_bytes(file, gz);

    MultipartBody body(kAt);
    body.add_text_field("was", "doit");
    body.add_file_field("bild", file, "application/msword");
    body.finish();
    const std::string expected = "--" + kB + "\r\n" +
                                 "Content-Disposition: form-data; name=\"was\"\r\n" + "\r\n" + "doit\r\n" +  //
                                 "--" + kB + "\r\n" +
                                 "Content-Disposition: form-data; name=\"bild\"; filename=\"" + file.string() + "\"\r\n" +
                                 "Content-Type: application/msword\r\n\r\n" + gz +  //
                                 "\r\n--" + kB + "--\r\n";
    EXPECT_EQ(body.bytes(), expected);
    EXPECT_EQ(body.size(), expected.size());
    EXPECT_EQ(body.position(), 0u);
    std::ostringstream out;
    EXPECT_EQ(body.write_to(out), expected.size());
    EXPECT_EQ(out.str(), expected);
    EXPECT_EQ(body.position(), expected.size());
}

TEST(Multipart, ValuesAndNamesAsPassedAndAnEmptyFile) {
    const fs::path empty = scratch_dir() / "C:\\Verein\\d.sql.gz";  // backslashes kept in the file name
    write_bytes(empty, "");
    MultipartBody body(kAt);
    body.add_text_field("a b", "100% \"sicher\"\r\nzweite Zeile \xE4");
    body.add_file_field("bild", empty, "text/plain");
    body.finish();
    EXPECT_EQ(body.bytes(), "--" + kB + "\r\nContent-Disposition: form-data; name=\"a b\"\r\n\r\n" +
                                "100% \"sicher\"\r\nzweite Zeile \xE4\r\n" +  //
                                "--" + kB + "\r\nContent-Disposition: form-data; name=\"bild\"; filename=\"" +
                                empty.string() + "\"\r\nContent-Type: text/plain\r\n\r\n" +  // the empty content
                                "\r\n--" + kB + "--\r\n");
}

TEST(Multipart, StreamPartFromItsFirstByte) {
    auto source = std::make_unique<std::istringstream>("0123456789");
    source->seekg(4);  // read from the start whatever the position
    MultipartBody body(kAt);
    body.add_stream_field("f", "x.bin", std::move(source), "application/octet-stream");
    body.finish();
    EXPECT_EQ(body.bytes(), "--" + kB + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x.bin\"\r\n" +
                                "Content-Type: application/octet-stream\r\n\r\n0123456789\r\n--" + kB + "--\r\n");
}

// A large file is read while the body is read, in pieces of any size, also after a seek.
TEST(Multipart, LargeFileReadInPieces) {
    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7919) >> 3);
    const fs::path file = scratch_dir() / "big.gz";
    write_bytes(file, content);

    MultipartBody body(kAt);
    body.add_text_field("was", "doit");
    body.add_file_field("bild", file, "application/msword");
    body.finish();
    const std::string head = "--" + kB + "\r\nContent-Disposition: form-data; name=\"was\"\r\n\r\ndoit\r\n--" + kB +
                             "\r\nContent-Disposition: form-data; name=\"bild\"; filename=\"" + file.string() +
                             "\"\r\nContent-Type: application/msword\r\n\r\n";
    const std::string expected = head + content + "\r\n--" + kB + "--\r\n";
    ASSERT_EQ(body.size(), expected.size());

    std::string got;
    char buf[7777];
    for (size_t n; (n = body.read(buf, sizeof buf)) > 0;) got.append(buf, n);
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(body.read(buf, sizeof buf), 0u);

    body.seek(head.size() - 3);  // across the start of the content
    ASSERT_EQ(body.read(buf, 10), 10u);
    EXPECT_EQ(std::string(buf, 10), expected.substr(head.size() - 3, 10));
    body.seek(expected.size() - 5);  // across the end of the content into the delimiter
    EXPECT_EQ(body.read(buf, sizeof buf), 5u);
    EXPECT_EQ(std::string(buf, 5), expected.substr(expected.size() - 5));
}

TEST(Multipart, MissingFileRaisesAndKeepsTheBody) {
    MultipartBody body(kAt);
    body.add_text_field("was", "doit");
    const std::string before = body.bytes();
    try {
        body.add_file_field("bild", scratch_dir() / "fehlt.gz", "application/msword");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("fehlt.gz"), std::string::npos) << e.what();
    }
    EXPECT_EQ(body.bytes(), before);

    // a file that shrinks before the body is read is reported, not sent short
    const fs::path file = scratch_dir() / "shrinks.gz";
    write_bytes(file, std::string(1000, 'x'));
    MultipartBody other(kAt);
    other.add_file_field("bild", file, "application/msword");
    other.finish();
    write_bytes(file, "x");
    EXPECT_THROW(other.bytes(), std::runtime_error);
}
