// The per-account store on SQLite and PostgreSQL (all-or-nothing loads, counts, rows) and the
// accounts file.
#include "site/accounts.h"
#include "site/gunzip.h"
#include "site/statement_parser.h"

#include <gtest/gtest.h>

#include "site_test_util.h"
#include "test_stores.h"

using namespace ringolan::site;
using site_test::gzip;

namespace {

class StoreTest : public site_test::StoreFixture {
protected:
    void load(std::string_view dump) {
        store->store_upload("c1", gzip(dump));
        store->load_upload("c1");
    }
    std::int64_t count(std::string_view table) { return store->count("c1", table).value(); }
};

}  // namespace

TEST_P(StoreTest, LoadsLinesOfSeveralTablesAndCountsThem) {
    store->store_upload("c1", gzip("#*iv#*'1','SV Eins');\r\n#*iv#*'2','SV Zwei');\r\n"
                                  "#*is#*'7','M\xfcller','Hans','LG','1','A',0);\r\n"));
    const auto added = store->load_upload("c1");
    EXPECT_EQ(added, (std::map<std::string, std::int64_t>{{"verein", 2}, {"starter", 1}}));
    EXPECT_THROW(store->load_upload("c1"), NoUploadError);  // the loaded file is gone
    EXPECT_EQ(count("verein"), 2);
    EXPECT_EQ(count("starter"), 1);
    EXPECT_EQ(count("STARTER"), 1);  // table names in any letter case
    EXPECT_EQ(count("raenge"), 0);   // never sent
    EXPECT_EQ(store->count("c1", "nosuchtable"), std::nullopt);
    EXPECT_EQ(store->count("other", "verein"), 0);  // an account without data

    // A second load adds to what is there; a table without rows loads nothing.
    load("#*iv#*'3','SV Drei');\r\n");
    load("");
    EXPECT_EQ(count("verein"), 3);
}

TEST_P(StoreTest, RowsKeepValuesInTheirFormsAndOrder) {
    load("#*iva#*'1','itdatum','','09.12.2026 03:00:00',9.8,);\r\n"
         "#*iva#*'2','T\xeetel','-3','Zwei\r\nZeilen, \\'qu\xf6ted\\'',-1.2346E+05,'M\xfc\x80');\r\n");
    const TableRows rows = store->rows("c1", "veranstaltung", 10).value();
    EXPECT_EQ(rows.columns, (std::vector<std::string>{"id", "_option", "wert_int", "wert_str", "wert_float",
                                                       "bemerkung"}));
    ASSERT_EQ(rows.rows.size(), 2u);
    using R = std::vector<std::optional<std::string>>;
    // Empty quoted values and bare NULLs are both NULL; reals become numbers.
    EXPECT_EQ(rows.rows[0], (R{"1", "itdatum", std::nullopt, "09.12.2026 03:00:00", "9.8", std::nullopt}));
    // Windows-1252 text arrives as UTF-8 (0xEE is î, 0xF6 ö, 0xFC ü, 0x80 the euro sign), each value
    // of a row converted apart, escaped quotes decoded first.
    EXPECT_EQ(rows.rows[1], (R{"2", "T\xc3\xaetel", "-3", "Zwei\r\nZeilen, 'qu\xc3\xb6ted'", "-123460.0", "M\xc3\xbc\xe2\x82\xac"}));
    EXPECT_EQ(store->rows("c1", "veranstaltung", 1).value().rows.size(), 1u);
}

TEST_P(StoreTest, TablesWidenForLongerRowsAndShortRowsLeaveNulls) {
    // "select *" tables have no fixed columns: positions name them.
    load("#*iz#*'1','2');\r\n#*iz#*'3','4','5','6');\r\n#*iz#*'7');\r\n");
    const TableRows rows = store->rows("c1", "zuordnung", 10).value();
    EXPECT_EQ(rows.columns, (std::vector<std::string>{"c1", "c2", "c3", "c4"}));
    using R = std::vector<std::optional<std::string>>;
    EXPECT_EQ(rows.rows[0], (R{"1", "2", std::nullopt, std::nullopt}));
    EXPECT_EQ(rows.rows[1], (R{"3", "4", "5", "6"}));
    EXPECT_EQ(rows.rows[2], (R{"7", std::nullopt, std::nullopt, std::nullopt}));
    // A known table gets its names, then "c" + position beyond them.
    load("#*iv#*'9','x','extra');\r\n");
    EXPECT_EQ(store->rows("c1", "verein", 10).value().columns, (std::vector<std::string>{"vereinsnr", "name", "c3"}));
}

TEST_P(StoreTest, AFailedLoadChangesNothingAndKeepsTheFile) {
    load("#*iv#*'1','SV Eins');\r\n");
    const std::string before = store->rows("c1", "verein", 10).value().rows[0][1].value();

    // Good lines of two tables, then a bad one: neither table changes.
    store->store_upload("c1", gzip("#*iv#*'2','SV Zwei');\r\n#*is#*'7','A');\r\n#*iv#*'3',SV);\r\n"));
    try {
        store->load_upload("c1");
        FAIL() << "no error";
    } catch (const DumpError& e) {
        EXPECT_EQ(e.line(), 3u);
    }
    EXPECT_EQ(count("verein"), 1);
    EXPECT_EQ(count("starter"), 0);
    EXPECT_THROW(store->load_upload("c1"), DumpError);  // the file is kept: the same failure again
    EXPECT_EQ(count("verein"), 1);

    store->store_upload("c1", gzip("#*iv#*'2','x');\r\n#*iqq#*'1');\r\n"));
    EXPECT_THROW(store->load_upload("c1"), DumpError);  // unknown table code
    EXPECT_EQ(count("verein"), 1);

    const std::string packed = gzip("#*iv#*'2','x');\r\n");
    store->store_upload("c1", packed.substr(0, packed.size() - 3));
    EXPECT_THROW(store->load_upload("c1"), GzipError);
    EXPECT_EQ(count("verein"), 1);
    EXPECT_EQ(store->rows("c1", "verein", 10).value().rows[0][1].value(), before);
}

TEST_P(StoreTest, DeleteRemovesTablesAndPendingFile) {
    load("#*iv#*'1','a');\r\n");
    store->store_upload("c1", gzip("#*iv#*'2','b');\r\n"));
    store->delete_all("c1");
    EXPECT_EQ(count("verein"), 0);
    EXPECT_THROW(store->load_upload("c1"), NoUploadError);
    store->delete_all("never-used");  // nothing to delete is fine
}

SITE_STORE_KINDS(StoreTest);

TEST(Passwords, SaltedHashesVerify) {
    const std::string h1 = hash_password("geheim", 1000);
    const std::string h2 = hash_password("geheim", 1000);
    EXPECT_NE(h1, h2);  // another salt each time
    EXPECT_TRUE(h1.starts_with("pbkdf2-sha256$1000$"));
    EXPECT_TRUE(verify_password("geheim", h1));
    EXPECT_TRUE(verify_password("geheim", h2));
    EXPECT_FALSE(verify_password("Geheim", h1));
    EXPECT_FALSE(verify_password("", h1));
    EXPECT_FALSE(verify_password("geheim", "geheim"));  // a plain password is no hash
    EXPECT_FALSE(verify_password("geheim", h1.substr(0, h1.size() - 2)));
    const std::string odd = "a&b #+%\\\xe4";
    EXPECT_TRUE(verify_password(odd, hash_password(odd, 10)));
}

TEST(Passwords, KnownPbkdf2Value) {
    // RFC 7914 section 11: PBKDF2-HMAC-SHA256, "passwd", salt "salt", 1 iteration.
    EXPECT_TRUE(verify_password("passwd", "pbkdf2-sha256$1$73616c74$"
                                          "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"));
}

TEST(AccountsFile, ReadsAccounts) {
    const std::string h = hash_password("pw", 10);
    const Accounts a = Accounts::parse(R"({"accounts":[{"id":"club1","name":"SV Eins","password":")" + h +
                                       R"("},{"id":"c-2.x_y","password":")" + h + R"("}]})");
    ASSERT_NE(a.find("club1"), nullptr);
    EXPECT_EQ(a.find("club1")->name, "SV Eins");
    EXPECT_EQ(a.find("c-2.x_y")->name, "c-2.x_y");
    EXPECT_EQ(a.find("Club1"), nullptr);
    EXPECT_EQ(a.find(""), nullptr);
    EXPECT_EQ(a.all().size(), 2u);
}

TEST(AccountsFile, RefusesBadFiles) {
    const std::string h = hash_password("pw", 10);
    auto error = [](const std::string& json) -> std::string {
        try {
            Accounts::parse(json);
        } catch (const AccountsError& e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_NE(error("{").find("not valid JSON"), std::string::npos);
    EXPECT_NE(error("[]").find("\"accounts\""), std::string::npos);
    EXPECT_NE(error(R"({"accounts":[{"password":")" + h + "\"}]}").find("missing text \"id\""), std::string::npos);
    for (const char* id : {"", "../x", "a b", ".hidden", "a/b"})
        EXPECT_NE(error(R"({"accounts":[{"id":")" + std::string(id) + R"(","password":")" + h + "\"}]}")
                      .find("must be 1 to 64"),
                  std::string::npos)
            << id;
    EXPECT_NE(error(R"({"accounts":[{"id":"a"}]})").find("missing text \"password\""), std::string::npos);
    EXPECT_NE(error(R"({"accounts":[{"id":"a","password":"secret"}]})").find("not a hash"), std::string::npos);
    EXPECT_NE(error(R"({"accounts":[{"id":"a","password":")" + h + R"("},{"id":"a","password":")" + h + "\"}]}")
                  .find("repeated"),
              std::string::npos);
    EXPECT_THROW(Accounts::load("/nonexistent/accounts.json"), AccountsError);
}
