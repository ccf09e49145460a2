// Document path decoding and the split at the first "?".
#include <gtest/gtest.h>

#include "server/request_target.h"

using ringolan::server::decode_document_path;
using ringolan::server::split_target;

TEST(RequestTarget, SplitsAtTheFirstQuestionMarkAndKeepsTheQueryRaw) {
    auto t = split_target("/a.php?B=%C4?x+y");
    EXPECT_EQ(t.document_path, "/a.php");
    EXPECT_EQ(t.query, "B=%C4?x+y");
    t = split_target("/vstbl.php?");
    EXPECT_EQ(t.document_path, "/vstbl.php");
    EXPECT_EQ(t.query, "");
    t = split_target("/Web%20Seite/a.htm");
    EXPECT_EQ(t.document_path, "/Web Seite/a.htm");
    EXPECT_EQ(t.query, "");
}

TEST(RequestTarget, DecodesPercentPairsOnly) {
    EXPECT_EQ(decode_document_path("/%c4%C4%2F+%41"), "/\xC4\xC4/+A");
    // Not hex, and %00: the "%" and both characters vanish.
    EXPECT_EQ(decode_document_path("/a%G1b%00c%4"), "/abc%4");
    EXPECT_EQ(decode_document_path("/x%"), "/x%");
    EXPECT_EQ(decode_document_path("\\vst.php"), "/vst.php");
    EXPECT_EQ(decode_document_path("*"), "*");
}

TEST(RequestTarget, TextFromTheFirstEqualsSignStaysUndecoded) {
    EXPECT_EQ(decode_document_path("/%41=%41%42"), "/A=%41%42");
    EXPECT_EQ(decode_document_path("/%4=1"), "/%4=1");
}
