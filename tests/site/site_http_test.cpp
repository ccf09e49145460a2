// The four upload addresses and the pages over loopback, with requests written by hand the
// way an upload sends them; on each store.
#include "site/site_handler.h"

#include "server/http_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "site_test_util.h"
#include "tests/support/loopback.h"
#include "test_stores.h"

using namespace ringolan;
using namespace ringolan::site;
using site_test::gzip;

namespace {

const std::string kPassword = "geheim";
const std::string kOddPassword = "a&b #+%\\x";
const std::string kBoundary = "--------------------------120709143005123";

struct Reply {
    int status = -1;
    std::string status_line;
    std::string head;
    std::string body;
};

// One request on a new connection, read until the server closes.
Reply send_request(uint16_t port, const std::string& request) {
    const int fd = ringolan::test_support::connect_loopback(port, std::chrono::seconds(20));
    if (fd < 0) throw std::runtime_error("connect");
    std::string_view out = request;
    while (!out.empty()) {
        const ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        out.remove_prefix(std::size_t(n));
    }
    std::string in;
    char buf[8192];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) in.append(buf, std::size_t(n));
    ::close(fd);

    Reply r;
    const std::size_t end = in.find("\r\n\r\n");
    if (end == std::string::npos) return r;
    r.head = in.substr(0, end);
    r.body = in.substr(end + 4);
    r.status_line = r.head.substr(0, r.head.find("\r\n"));
    if (r.status_line.size() > 12) r.status = std::stoi(r.status_line.substr(9, 3));
    return r;
}

class SiteHttpTest : public site_test::StoreFixture {
protected:
    void SetUp() override {
        StoreFixture::SetUp();
        if (IsSkipped()) return;
        const std::string h1 = hash_password(kPassword, 100), h2 = hash_password(kOddPassword, 100);
        accounts = Accounts::parse(R"({"accounts":[{"id":"club1","name":"SV <Eins>","password":")" + h1 +
                                   R"("},{"id":"club2","password":")" + h2 + R"("}]})");
        handler = std::make_unique<SiteHandler>(accounts, *store);
        server::ServerOptions options;
        options.max_body_bytes = 16 << 20;
        http = std::make_unique<server::HttpServer>(
            [this](const server::Request& q, server::Response& r) { (*handler)(q, r); }, server::HttpServer::ConnectObserver{},
            options);
        http->start({server::Binding{"127.0.0.1", 0}});
        port = http->endpoints().front().port;
    }
    void TearDown() override {
        if (http) http->stop();
    }

    // A GET as the upload's client writes it after its first POST.
    Reply get(const std::string& target) {
        return send_request(port, "GET " + target + " HTTP/1.1\r\nConnection: keep-alive\r\nContent-Type: multipart/form-data; "
                              "boundary=" + kBoundary + "\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n");
    }

    Reply post_file(const std::string& id, const std::string& file_bytes, const std::string& was = "doit") {
        const std::string body = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"was\"\r\n\r\n" + was +
                                 "\r\n--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"bild\"; "
                                 "filename=\"C:\\Ringolan\\d" + id + ".sql.gz\"\r\nContent-Type: application/msword\r\n\r\n" +
                                 file_bytes + "\r\n--" + kBoundary + "--\r\n";
        return send_request(port, "POST /ergebnisse/5.php?id=" + id + " HTTP/1.0\r\nConnection: keep-alive\r\n"
                              "Content-Type: multipart/form-data; boundary=" + kBoundary + "\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n" + body);
    }

    Reply remove(const std::string& pw = kPassword, const std::string& id = "club1") {
        return get("/ergebnisse/loeschen.php?id=" + id + "&pw=" + pw);
    }
    Reply insert(const std::string& pw = kPassword, const std::string& id = "club1") {
        return get("/ergebnisse/einfuegen.php?id=" + id + "&pw=" + pw);
    }
    std::string count(const std::string& table, const std::string& id = "club1") {
        const Reply r = get("/ergebnisse/anzahl.php?id=" + id + "&tabelle=" + table);
        return r.status == 200 ? r.body : r.status_line;
    }

    // The upload's steps for one table: post, load, count.
    void upload_table(const std::string& dump) {
        ASSERT_EQ(post_file("club1", gzip(dump)).status, 200);
        const Reply r = insert();
        ASSERT_EQ(r.status, 200) << r.body;
    }

    Accounts accounts;
    std::unique_ptr<SiteHandler> handler;
    std::unique_ptr<server::HttpServer> http;
    uint16_t port = 0;
};

const std::string kClubs = "#*iv#*'1','SV Eins');\r\n#*iv#*'2','Sch\\'tzen\r\nZwei');\r\n#*iv#*'3','C:\\');\r\n";
const std::string kOptions = "#*iva#*'1','itdatum','','09.12.2026 03:00:00',0.0,'');\r\n";

}  // namespace

TEST_P(SiteHttpTest, AWholeRunDeletesPostsLoadsAndCounts) {
    const Reply d = remove();
    EXPECT_EQ(d.status, 200);
    EXPECT_EQ(d.body, "0");
    upload_table(kClubs);
    upload_table("");  // a table without rows
    upload_table(kOptions);
    EXPECT_EQ(count("verein"), "3");  // bare digits, nothing after them
    EXPECT_EQ(count("veranstaltung"), "1");
    EXPECT_EQ(count("raenge"), "0");

    // The next run's delete empties the account.
    EXPECT_EQ(remove().body, "0");
    EXPECT_EQ(count("verein"), "0");
    EXPECT_EQ(count("veranstaltung"), "0");
}

TEST_P(SiteHttpTest, WrongPasswordsAndUnknownAccountsChangeNothing) {
    upload_table(kClubs);
    // The delete's refusal is a body other than "0" (the upload reads only that).
    for (const Reply& r : {remove("falsch"), remove(""), get("/ergebnisse/loeschen.php?id=club1"),
                           remove(kPassword, "nobody"), remove(kPassword, "")}) {
        EXPECT_EQ(r.status, 200);
        EXPECT_NE(r.body, "0");
        EXPECT_TRUE(r.body.starts_with("error: ")) << r.body;
    }
    EXPECT_EQ(count("verein"), "3");

    ASSERT_EQ(post_file("club1", gzip(kOptions)).status, 200);
    const Reply wrong = insert("falsch");
    EXPECT_EQ(wrong.status_line, "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(wrong.body, "error: wrong password");
    EXPECT_EQ(count("veranstaltung"), "0");
    EXPECT_EQ(insert(kPassword, "nobody").status, 404);
    EXPECT_EQ(post_file("nobody", gzip(kOptions)).status_line, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(count("verein", "nobody"), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(count("nosuchtable"), "HTTP/1.1 404 Not Found");
    // The pending file was left by the refused insert and loads with the right password.
    EXPECT_EQ(insert().status, 200);
    EXPECT_EQ(count("veranstaltung"), "1");
}

TEST_P(SiteHttpTest, PercentEncodedPasswordsAreDecoded) {
    // a&b #+%\x, each byte that a query would change written as %XX.
    const std::string encoded = "a%26b%20%23%2B%25%5Cx";
    EXPECT_EQ(remove(encoded, "club2").body, "0");
    ASSERT_EQ(post_file("club2", gzip(kClubs)).status, 200);
    EXPECT_EQ(insert(encoded, "club2").status, 200);
    EXPECT_EQ(count("verein", "club2"), "3");
    EXPECT_EQ(count("verein"), "0");  // the other account holds nothing
    // Sent unencoded the password is cut at "&" and refused.
    EXPECT_NE(remove("a&b", "club2").body, "0");
}

TEST_P(SiteHttpTest, BadFilesAreRefusedAndChangeNothing) {
    upload_table(kClubs);

    // Not gzip: refused at the post, nothing kept to load.
    const Reply plain = post_file("club1", kOptions);
    EXPECT_EQ(plain.status, 400);
    EXPECT_EQ(plain.body, "error: the file is not gzip-compressed");
    const Reply none = insert();
    EXPECT_EQ(none.status, 409);
    EXPECT_EQ(none.body, "error: no file has been uploaded for this account");

    // Cut short: refused at the load.
    const std::string packed = gzip(kOptions + kOptions);
    ASSERT_EQ(post_file("club1", packed.substr(0, packed.size() / 2)).status, 200);
    const Reply cut = insert();
    EXPECT_EQ(cut.status, 422);
    EXPECT_EQ(cut.body, "error: the gzip file is truncated; nothing loaded");

    // A line that does not parse after good ones: none of them is loaded.
    ASSERT_EQ(post_file("club1", gzip(kOptions + "#*iv#*'4','Vier');\r\n#*iv#*'5','F\xfcnf);\r\n")).status, 200);
    const Reply bad = insert();
    EXPECT_EQ(bad.status, 422);
    EXPECT_TRUE(bad.body.starts_with("error: line 3: ")) << bad.body;
    EXPECT_TRUE(bad.body.ends_with("; nothing loaded")) << bad.body;

    // Forms without the upload's fields.
    EXPECT_EQ(post_file("club1", gzip(kOptions), "nicht").status, 400);
    const Reply no_form = send_request(port, "POST /ergebnisse/5.php?id=club1 HTTP/1.0\r\nContent-Type: text/plain\r\n"
                                         "Content-Length: 4\r\n\r\nabcd");
    EXPECT_EQ(no_form.status, 400);
    EXPECT_EQ(no_form.body, "error: the request is not multipart/form-data");
    EXPECT_EQ(get("/ergebnisse/5.php?id=club1").status, 405);

    EXPECT_EQ(count("verein"), "3");
    EXPECT_EQ(count("veranstaltung"), "0");
}

TEST_P(SiteHttpTest, BodiesAboveThePageServersCapArrive) {
    // A 2 MiB table file: more than the page server's 1 MiB body cap, within the site's.
    std::string dump;
    const std::string filler = site_test::noise(2 << 20);
    std::string text;
    for (char c : filler) text += char('a' + (static_cast<unsigned char>(c) % 26));
    for (int i = 0; i < 32; ++i) dump += "#*iv#*'" + std::to_string(i) + "','" + text.substr(i * 65536, 65536) + "');\r\n";
    const std::string packed = gzip(dump);
    ASSERT_GT(packed.size(), std::size_t(1) << 20);
    upload_table(dump);
    EXPECT_EQ(count("verein"), "32");
}

TEST_P(SiteHttpTest, PagesShowWhatArrived) {
    upload_table(kClubs);
    upload_table(kOptions);
    const Reply overview = get("/ergebnisse/?id=club1");
    EXPECT_EQ(overview.status, 200);
    EXPECT_NE(overview.body.find("<h1>SV &lt;Eins&gt;</h1>"), std::string::npos);
    EXPECT_NE(overview.body.find("Letzter Upload: 09.12.2026 03:00:00"), std::string::npos);
    EXPECT_NE(overview.body.find("verein</a></td><td>3</td>"), std::string::npos);
    EXPECT_NE(overview.body.find("<td>Sch&#39;tzen\r\nZwei</td>"), std::string::npos);

    const Reply table = get("/ergebnisse/tabelle.php?id=club1&tabelle=verein");
    EXPECT_EQ(table.status, 200);
    EXPECT_NE(table.body.find("<td>C:\\</td>"), std::string::npos);
    EXPECT_EQ(get("/ergebnisse/tabelle.php?id=club1&tabelle=x").status, 404);
    EXPECT_EQ(get("/ergebnisse/?id=nobody").status, 404);
    EXPECT_NE(get("/").body.find("href=\"/ergebnisse/?id=club2\""), std::string::npos);
    EXPECT_EQ(get("/nothing.php").status, 404);
}

namespace {

std::string base64(std::string_view in) {
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        unsigned v = unsigned(static_cast<unsigned char>(in[i])) << 16;
        if (i + 1 < in.size()) v |= unsigned(static_cast<unsigned char>(in[i + 1])) << 8;
        if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
        out += a[v >> 18 & 63];
        out += a[v >> 12 & 63];
        out += i + 1 < in.size() ? a[v >> 6 & 63] : '=';
        out += i + 2 < in.size() ? a[v & 63] : '=';
    }
    return out;
}

std::string start_batch(const std::string& name) {
    return R"({"stream":"s1","base":0,"sequence":1,"tables":[{"code":"v","replace":true,"inserts":["#*iv#*'1',')" +
           name + R"(');"]}]})";
}

}  // namespace

TEST_P(SiteHttpTest, ChangesAddressChecksCredentialsAndAnswersEachOutcome) {
    struct Case {
        const char* method;
        std::string id, user, password, body;
        bool gzipped;
        int status;
        std::string answer;  // the body begins with this
    };
    const std::string next = R"({"stream":"s1","base":1,"sequence":2,"tables":[{"code":"v","inserts":["#*iv#*'2','B');"]}]})";
    const Case cases[] = {
        {"POST", "club1", "club1", "falsch", start_batch("A"), false, 401, "Anmeldung"},
        {"POST", "club1", "club2", kOddPassword, start_batch("A"), false, 401, "Anmeldung"},  // another account's
        {"POST", "nobody", "nobody", kPassword, start_batch("A"), false, 401, "Anmeldung"},
        {"POST", "club1", "club1", kPassword, "{\"stream\":", false, 400, "Die \xC3\x84nderungen sind kein"},
        {"POST", "club1", "club1", kPassword, R"({"stream":"s1","base":0,"sequence":2,"tables":[]})", false, 400, "\"sequence\""},
        {"POST", "club1", "club1", kPassword, start_batch("A','x"), false, 200, R"({"outcome":"applied","sequence":1)"},
        {"POST", "club1", "club1", kPassword, start_batch("A','x"), false, 200, R"({"outcome":"duplicate","sequence":1)"},
        {"POST", "club1", "club1", kPassword,
         R"({"stream":"s1","base":4,"sequence":5,"tables":[]})", false, 409, R"({"outcome":"conflict","sequence":1)"},
        {"POST", "club1", "club1", kPassword,
         R"({"stream":"s1","base":1,"sequence":2,"tables":[{"code":"qq","inserts":["#*iqq#*'1');"]}]})", false, 400,
         "Die \xC3\x84nderungen sind fehlerhaft"},
        {"POST", "club1", "club1", kPassword, next, true, 200, R"({"outcome":"applied","sequence":2)"},
        {"GET", "club1", "club1", kPassword, "", false, 200, R"({"sequence":2,"stream":"s1"})"},
        {"GET", "club2", "club2", kOddPassword, "", false, 200, R"({"sequence":0,"stream":""})"},
        {"GET", "club1", "club1", "falsch", "", false, 401, "Anmeldung"},  // after a cached success
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.id + " " + c.body);
        const std::string body = c.gzipped ? gzip(c.body) : c.body;
        const Reply r = send_request(
            port, std::string(c.method) + " /api/v1/accounts/" + c.id + "/changes HTTP/1.1\r\nHost: x\r\n" +
                      "Authorization: Basic " + base64(c.user + ":" + c.password) + "\r\nConnection: close\r\n" +
                      (c.gzipped ? "Content-Encoding: gzip\r\n" : "") + "Content-Length: " +
                      std::to_string(body.size()) + "\r\n\r\n" + body);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body.substr(0, c.answer.size()), c.answer);
    }
    EXPECT_EQ(count("verein"), "2");
}

SITE_STORE_KINDS(SiteHttpTest);
