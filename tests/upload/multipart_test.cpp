#include "upload/multipart.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/upload/upload_fixture.h"

using namespace ringolan;
using namespace ringolan::test_upload;
using upload::LocalTime;
using upload::TMsMultiPartFormDataStream;

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

    TMsMultiPartFormDataStream body(kAt);
    EXPECT_EQ(body.FormBoundary(), kB);
    EXPECT_EQ(body.FormContentType(), "multipart/form-data; boundary=" + kB);
    // two bodies of the same millisecond share the boundary
    EXPECT_EQ(TMsMultiPartFormDataStream(kAt).FormBoundary(), body.FormBoundary());

    const TMsMultiPartFormDataStream now;
    ASSERT_EQ(now.FormBoundary().size(), 41u);
    EXPECT_EQ(now.FormBoundary().find_first_not_of("0123456789", 26), std::string::npos);
}

TEST(Multipart, EmptyBodyIsTheClosingDelimiterOnly) {
    TMsMultiPartFormDataStream body(kAt);
    EXPECT_EQ(body.Size(), 0u);
    body.Finish();
    EXPECT_EQ(body.Bytes(), "\r\n--" + kB + "--\r\n");
    EXPECT_EQ(body.Position(), 0u);
}

// The upload's body: the field "was" and the gzip file as "bild", byte for byte.
TEST(Multipart, UploadBodyByteExact) {
    const std::string gz("\x1F\x8B\x08\x08\0\0\0\0\0\0dclub.sql\0\x03\0\0\0\0\0\0\0\0\0", 30);
    const fs::path file = scratch_dir() / "dclub.sql.gz";
    write_bytes(file, gz);

    TMsMultiPartFormDataStream body(kAt);
    body.AddTextField("was", "doit");
    body.AddFileField("bild", file, "application/msword");
    body.Finish();
    const std::string expected = "--" + kB + "\r\n" +
                                 "Content-Disposition: form-data; name=\"was\"\r\n" + "\r\n" + "doit\r\n" +  //
                                 "--" + kB + "\r\n" +
                                 "Content-Disposition: form-data; name=\"bild\"; filename=\"" + file.string() + "\"\r\n" +
                                 "Content-Type: application/msword\r\n\r\n" + gz +  //
                                 "\r\n--" + kB + "--\r\n";
    EXPECT_EQ(body.Bytes(), expected);
    EXPECT_EQ(body.Size(), expected.size());
    EXPECT_EQ(body.Position(), 0u);
    std::ostringstream out;
    EXPECT_EQ(body.WriteTo(out), expected.size());
    EXPECT_EQ(out.str(), expected);
    EXPECT_EQ(body.Position(), expected.size());
}

TEST(Multipart, ValuesAndNamesAsPassedAndAnEmptyFile) {
    const fs::path empty = scratch_dir() / "C:\\Verein\\d.sql.gz";  // backslashes kept in the file name
    write_bytes(empty, "");
    TMsMultiPartFormDataStream body(kAt);
    body.AddTextField("a b", "100% \"sicher\"\r\nzweite Zeile \xE4");
    body.AddFileField("bild", empty, "text/plain");
    body.Finish();
    EXPECT_EQ(body.Bytes(), "--" + kB + "\r\nContent-Disposition: form-data; name=\"a b\"\r\n\r\n" +
                                "100% \"sicher\"\r\nzweite Zeile \xE4\r\n" +  //
                                "--" + kB + "\r\nContent-Disposition: form-data; name=\"bild\"; filename=\"" +
                                empty.string() + "\"\r\nContent-Type: text/plain\r\n\r\n" +  // the empty content
                                "\r\n--" + kB + "--\r\n");
}

TEST(Multipart, StreamPartFromItsFirstByte) {
    auto source = std::make_unique<std::istringstream>("0123456789");
    source->seekg(4);  // read from the start whatever the position
    TMsMultiPartFormDataStream body(kAt);
    body.AddStreamField("f", "x.bin", std::move(source), "application/octet-stream");
    body.Finish();
    EXPECT_EQ(body.Bytes(), "--" + kB + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x.bin\"\r\n" +
                                "Content-Type: application/octet-stream\r\n\r\n0123456789\r\n--" + kB + "--\r\n");
}

// A large file is read while the body is read, in pieces of any size, also after a seek.
TEST(Multipart, LargeFileReadInPieces) {
    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7919) >> 3);
    const fs::path file = scratch_dir() / "big.gz";
    write_bytes(file, content);

    TMsMultiPartFormDataStream body(kAt);
    body.AddTextField("was", "doit");
    body.AddFileField("bild", file, "application/msword");
    body.Finish();
    const std::string head = "--" + kB + "\r\nContent-Disposition: form-data; name=\"was\"\r\n\r\ndoit\r\n--" + kB +
                             "\r\nContent-Disposition: form-data; name=\"bild\"; filename=\"" + file.string() +
                             "\"\r\nContent-Type: application/msword\r\n\r\n";
    const std::string expected = head + content + "\r\n--" + kB + "--\r\n";
    ASSERT_EQ(body.Size(), expected.size());

    std::string got;
    char buf[7777];
    for (size_t n; (n = body.Read(buf, sizeof buf)) > 0;) got.append(buf, n);
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(body.Read(buf, sizeof buf), 0u);

    body.Seek(head.size() - 3);  // across the start of the content
    ASSERT_EQ(body.Read(buf, 10), 10u);
    EXPECT_EQ(std::string(buf, 10), expected.substr(head.size() - 3, 10));
    body.Seek(expected.size() - 5);  // across the end of the content into the delimiter
    EXPECT_EQ(body.Read(buf, sizeof buf), 5u);
    EXPECT_EQ(std::string(buf, 5), expected.substr(expected.size() - 5));
}

TEST(Multipart, MissingFileRaisesAndKeepsTheBody) {
    TMsMultiPartFormDataStream body(kAt);
    body.AddTextField("was", "doit");
    const std::string before = body.Bytes();
    try {
        body.AddFileField("bild", scratch_dir() / "fehlt.gz", "application/msword");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("fehlt.gz"), std::string::npos) << e.what();
    }
    EXPECT_EQ(body.Bytes(), before);

    // a file that shrinks before the body is read is reported, not sent short
    const fs::path file = scratch_dir() / "shrinks.gz";
    write_bytes(file, std::string(1000, 'x'));
    TMsMultiPartFormDataStream other(kAt);
    other.AddFileField("bild", file, "application/msword");
    other.Finish();
    write_bytes(file, "x");
    EXPECT_THROW(other.Bytes(), std::runtime_error);
}
