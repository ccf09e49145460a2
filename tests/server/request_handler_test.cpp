// Request handling on a scratch web root: page addresses, files, folders, paths that leave the
// root, symbolic links, HEAD and the MIME table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <stdexcept>
#include <string>
#include <vector>

#include "pages/page_context.h"
#include "server/dispatcher.h"
#include "server/http_request.h"
#include "server/http_response.h"
#include "server/page_cache.h"
#include "server/page_routes.h"
#include "server/request_handler.h"
#include "tests/pages/page_fixture.h"
#include "tests/server/page_literals.h"

namespace {

namespace fs = std::filesystem;
using namespace ringolan::server;
using ringolan::test_pages::kNotFound;  // the dispatcher's own not-found page

const std::string kFileNotFound =
    "<html><head><title>Error</title></head><body><h1>Not Found</h1></body></html>";

void write_file(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// A scratch folder holding the web root "Web", the sibling "Web2" and a file beside them.
class RequestHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        base_ = ringolan::test_pages::test_dir() / (std::string("handler_") + info->name());
        fs::remove_all(base_);
        root_ = base_ / "Web";
        fs::create_directories(root_);
        env_.web_root = root_;
        env_.snapshot = [this] {
            ++snapshot_calls_;
            return snapshot_;
        };
        env_.on_page = [this](const std::shared_ptr<const std::string>& text) { shown_.push_back(*text); };
    }

    Response handle(const std::string& command, const std::string& path, const std::string& query = "",
                    const std::string& body = "") {
        Request request;
        request.command = command;
        request.document_path = path;
        request.query = query;
        request.body = body;
        return run_handler(request, [this](const Request& q, Response& r) { HandleRequest(env_, q, r); });
    }

    void expect_not_found(const Response& r, const std::string& what) {
        EXPECT_EQ(r.status_code, 404) << what;
        EXPECT_EQ(r.reason, "Not Found") << what;
        EXPECT_EQ(r.body(), kFileNotFound) << what;
        EXPECT_TRUE(r.file.empty()) << what;
    }

    // A GET answer that sends the file at path (below the web root) with its size and type.
    void expect_served(const Response& r, const fs::path& file, const std::string& type, const std::string& what) {
        EXPECT_EQ(r.status_code, 200) << what;
        EXPECT_EQ(r.file, fs::canonical(file)) << what;
        EXPECT_EQ(r.content_length, int64_t(fs::file_size(file))) << what;
        EXPECT_EQ(r.content_type, type) << what;
        EXPECT_TRUE(r.body().empty()) << what;
    }

    fs::path base_, root_;
    HandlerEnv env_;
    std::shared_ptr<const ringolan::db::Snapshot> snapshot_;
    int snapshot_calls_ = 0;
    std::vector<std::string> shown_;
};

TEST(MimeTable, FixedRowsAndCommonTypes) {
    const MimeTable mime;
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"a.htm", "text/html"},      {"a.html", "text/html"},     {"a.css", "text/css"},
        {"a.gif", "image/gif"},      {"a.jpg", "image/jpeg"},     {"a.jpeg", "image/jpeg"},
        {"a.jpe", "image/jpeg"},     {"a.png", "image/x-png"},    {"a.txt", "text/plain"},
        {"a.zip", "application/x-zip-compressed"},                {"a.js", "application/javascript"},
        {"a.ico", "image/x-icon"},   {"a.svg", "image/svg+xml"},  {"a.pdf", "application/pdf"},
        {"a.xml", "text/xml"},       {"a.json", "application/json"},
    };
    for (const auto& [name, type] : rows) EXPECT_EQ(mime.lookup(name), type) << name;
}

TEST(MimeTable, ExtensionIsTakenFromTheLastDotOfTheFileName) {
    const MimeTable mime;
    EXPECT_EQ(mime.lookup("/srv/Web/BILD.JPG"), "image/jpeg");
    EXPECT_EQ(mime.lookup("Style.CsS"), "text/css");
    EXPECT_EQ(mime.lookup("archiv.tar.zip"), "application/x-zip-compressed");
    EXPECT_EQ(mime.lookup("page.html.txt"), "text/plain");
    EXPECT_EQ(mime.lookup("/srv/Web/README"), "application/octet-stream");
    EXPECT_EQ(mime.lookup("/srv/v1.css/README"), "application/octet-stream");  // dot in a folder name
    EXPECT_EQ(mime.lookup("C:\\Web\\v1.css\\README"), "application/octet-stream");
    EXPECT_EQ(mime.lookup("/srv/v1.2/liste.txt"), "text/plain");
    EXPECT_EQ(mime.lookup("name."), "application/octet-stream");
    EXPECT_EQ(mime.lookup("program.exe"), "application/octet-stream");
    EXPECT_EQ(mime.lookup(""), "application/octet-stream");
}

TEST(MimeTable, AddedTypesAreFoundInAnyLetterCase) {
    MimeTable mime;
    mime.add(".WEBP", "image/webp");
    EXPECT_EQ(mime.lookup("x.webp"), "image/webp");
    EXPECT_EQ(mime.lookup("x.WebP"), "image/webp");
    mime.add(".png", "image/png");
    EXPECT_EQ(mime.lookup("x.png"), "image/png");
}

TEST_F(RequestHandlerTest, FoldersAreAnsweredWithTheirIndexFile) {
    write_file(root_ / "index.html", "<html>start</html>");
    write_file(root_ / "sub" / "index.html", "<html>sub</html>");
    fs::create_directories(root_ / "empty");

    expect_served(handle("GET", "/"), root_ / "index.html", "text/html", "/");
    expect_served(handle("GET", "/sub/"), root_ / "sub" / "index.html", "text/html", "/sub/");
    expect_served(handle("GET", "/sub"), root_ / "sub" / "index.html", "text/html", "/sub");
    expect_served(handle("GET", "/sub/./"), root_ / "sub" / "index.html", "text/html", "/sub/./");
    expect_not_found(handle("GET", "/empty/"), "/empty/");
    expect_not_found(handle("GET", "/empty"), "/empty");

    fs::remove(root_ / "index.html");
    expect_not_found(handle("GET", "/"), "/ without index.html");
    EXPECT_TRUE(shown_.empty());  // file answers never reach the page memo
}

TEST_F(RequestHandlerTest, MissingFilesGetTheNotFoundPage) {
    expect_not_found(handle("GET", "/fehlt.html"), "/fehlt.html");
    expect_not_found(handle("HEAD", "/fehlt.html"), "HEAD /fehlt.html");
    expect_not_found(handle("GET", "/sub/fehlt.jpg"), "/sub/fehlt.jpg");

    write_file(root_ / "bild.jpg", "x");
    expect_not_found(handle("GET", "/bild.jpg/"), "file named as a folder");
    expect_not_found(handle("GET", std::string("/bild.jpg\0.txt", 14)), "NUL in the path");

    env_.web_root = base_ / "NoWeb";
    expect_not_found(handle("GET", "/bild.jpg"), "web root missing");
}

TEST_F(RequestHandlerTest, GetAndHeadOfAnImage) {
    write_file(root_ / "bild.jpg", std::string(1234, '\xFF'));

    const Response get = handle("GET", "/bild.jpg");
    expect_served(get, root_ / "bild.jpg", "image/jpeg", "GET");
    EXPECT_EQ(get.content_length, 1234);
    const Response post = handle("POST", "/bild.jpg", "", "a=1");
    expect_served(post, root_ / "bild.jpg", "image/jpeg", "POST");

    const Response head = handle("HEAD", "/bild.jpg");
    EXPECT_EQ(head.status_code, 200);
    EXPECT_TRUE(head.file.empty());
    EXPECT_TRUE(head.body().empty());
    EXPECT_EQ(serialize(head),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: image/jpeg\r\nContent-Length: 1234\r\n"
              "Server: Indy/9.0.14\r\n\r\n");
    EXPECT_TRUE(handle("head", "/bild.jpg").file.empty());  // the command's letter case does not matter

    // The head of a file answer announces the file's length; the bytes follow it.
    EXPECT_EQ(serialize_head(get),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: image/jpeg\r\nContent-Length: 1234\r\n"
              "Server: Indy/9.0.14\r\n\r\n");
}

TEST_F(RequestHandlerTest, EmptyFilesAndUnknownTypes) {
    write_file(root_ / "leer.txt", "");
    write_file(root_ / "daten.bin", "01234");
    const Response empty = handle("GET", "/leer.txt");
    expect_served(empty, root_ / "leer.txt", "text/plain", "empty file");
    EXPECT_EQ(empty.content_length, 0);
    EXPECT_NE(serialize_head(empty).find("Content-Length: 0\r\n"), std::string::npos);
    expect_served(handle("GET", "/daten.bin"), root_ / "daten.bin", "application/octet-stream", "daten.bin");
}

TEST_F(RequestHandlerTest, RahmenHtmlIsAFileNotAFrameset) {
    write_file(root_ / "rahmen.html", "<html>rahmen</html>");
    expect_served(handle("GET", "/rahmen.html"), root_ / "rahmen.html", "text/html", "/rahmen.html");
    EXPECT_EQ(snapshot_calls_, 0);
}

TEST_F(RequestHandlerTest, PhpAnywhereInThePathIsAPageRequest) {
    write_file(root_ / "liste.php.htm", "file");
    write_file(root_ / "START.PHP", "file");

    const Response liste = handle("GET", "/liste.php.htm");
    EXPECT_EQ(liste.status_code, 404);
    EXPECT_EQ(liste.body(), kNotFound);
    EXPECT_EQ(liste.content_type, "text/html");
    EXPECT_TRUE(liste.file.empty());
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0], kNotFound);

    // Upper-case ".PHP" is a page address as well: the dispatcher answers, never the file.
    const Response start = handle("GET", "/START.PHP", "NR=1");
    ringolan::pages::PageContext ctx;
    const PageResult expected = DispatchPage(ctx, "/START.PHP", "NR=1");
    EXPECT_EQ(start.body(), expected.body);
    EXPECT_EQ(start.status_code, expected.status);
    EXPECT_TRUE(start.file.empty());
    ASSERT_EQ(shown_.size(), 2u);
    EXPECT_EQ(shown_[1], start.body());
    EXPECT_EQ(snapshot_calls_, 2);  // once per page

    EXPECT_EQ(handle("GET", "/foo.PhP").body(), kNotFound);
    write_file(root_ / "rahmen.html", "file");
    const Response through = handle("GET", "/x.php/../rahmen.html");
    EXPECT_TRUE(through.file.empty());
    EXPECT_NE(through.body(), "file");
    EXPECT_EQ(snapshot_calls_, 4);
}

// The club list of a small file: the page generated from the snapshot that env hands out.
class RequestHandlerPageTest : public RequestHandlerTest {
protected:
    void SetUp() override {
        RequestHandlerTest::SetUp();
        using ringolan::test_pages::Club;
        snapshot_ = ringolan::test_pages::snapshot_of(ringolan::test_pages::write_clubs_file(
            "handler_clubs.mdb", {Club{"7", std::string("SV M\xC3\xBChle")}}, {{1001, "7"}, {1002, "7"}}));
    }

    const std::string expected_ =
        ringolan::test_pages::kHead +
        "   <table border='1'>  <tr>    <td width='300'><b>Verein </b></td>    <td width='50'><b>Anzahl</b></td>  </tr>  "
        "<tr><td><a href=\"vst.php?NR=7\">SV M\xFChle</a></td> <td><a href=\"vst.php?NR=7\">2</a></td></tr>\n"
        "</table>" +
        ringolan::test_pages::kFoot;
};

TEST_F(RequestHandlerPageTest, PagesAreGeneratedFromOneSnapshotAndShown) {
    const Response r = handle("GET", "/VSTBL.PHP");
    EXPECT_EQ(r.status_code, 200);
    EXPECT_EQ(r.body(), expected_);
    EXPECT_EQ(r.content_type, "text/html");
    EXPECT_EQ(r.content_length, -1);
    EXPECT_TRUE(r.file.empty());
    EXPECT_EQ(snapshot_calls_, 1);
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0], expected_);
}

TEST_F(RequestHandlerPageTest, PostAndHeadOfAPageAreDispatchedLikeGet) {
    const Response post = handle("POST", "/vstbl.php", "", "NR=99&x=1");
    EXPECT_EQ(post.status_code, 200);
    EXPECT_EQ(post.body(), expected_);
    const Response head = handle("HEAD", "/vstbl.php");
    EXPECT_EQ(head.status_code, 200);
    EXPECT_EQ(head.body(), expected_);
    EXPECT_EQ(shown_, (std::vector<std::string>{expected_, expected_}));
}

TEST_F(RequestHandlerPageTest, PagesWorkWithoutMemoObserver) {
    env_.on_page = nullptr;
    EXPECT_EQ(handle("GET", "/vstbl.php").body(), expected_);
}

// The quick answer is the cached page with the bytes and status HandleRequest gives, and
// nothing else: no generation, no files, no other state of the file.
TEST_F(RequestHandlerPageTest, AnswerFromCacheGivesOnlyPagesAlreadyGenerated) {
    auto quick = [this](const std::string& path, const std::string& query = "") {
        Request request;
        request.command = "GET";
        request.document_path = path;
        request.query = query;
        Response response;
        response.content = "unchanged";
        const bool answered = AnswerFromCache(env_, request, response);
        return std::make_pair(answered, response);
    };
    EXPECT_FALSE(quick("/vstbl.php").first);  // no cache
    env_.cache = std::make_shared<PageCache>();
    const auto [missed, untouched] = quick("/vstbl.php");
    EXPECT_FALSE(missed);
    EXPECT_EQ(untouched.body(), "unchanged");
    EXPECT_TRUE(shown_.empty());

    const Response generated = handle("GET", "/vstbl.php");
    const Response not_found = handle("GET", "/nix.php", "A=1");
    ASSERT_EQ(shown_.size(), 2u);
    const auto [hit, cached] = quick("/vstbl.php");
    ASSERT_TRUE(hit);
    EXPECT_EQ(serialize(cached), serialize(generated));
    EXPECT_EQ(cached.body(), expected_);
    const auto [hit404, cached404] = quick("/nix.php", "A=1");
    ASSERT_TRUE(hit404);
    EXPECT_EQ(serialize(cached404), serialize(not_found));
    EXPECT_EQ(cached404.status_code, not_found.status_code);
    EXPECT_EQ(shown_.size(), 4u);  // shown like a generated page
    EXPECT_FALSE(quick("/vstbl.php", "NR=1").first);  // another query is another page

    write_file(root_ / "rahmen.html", "file");
    EXPECT_FALSE(quick("/rahmen.html").first);  // files go the usual way

    // Another state of the file: the cached page is not given for it.
    snapshot_ = ringolan::test_pages::snapshot_of(ringolan::test_pages::write_clubs_file(
        "handler_clubs2.mdb", {ringolan::test_pages::Club{"8", "SV Au"}}, {{1003, "8"}}));
    EXPECT_FALSE(quick("/vstbl.php").first);
    EXPECT_NE(handle("GET", "/vstbl.php").body(), expected_);
}

TEST_F(RequestHandlerTest, PathsLeavingTheWebRootAreNotFound) {
    write_file(root_ / "bild.jpg", "jpg");
    write_file(root_ / "sub" / "a.txt", "a");
    const std::vector<std::string> outside = {
        "/../secret.txt", "/sub/../../secret.txt", "/..\\secret.txt", "/../../../../../../etc/passwd",
        "/../Web2/x.txt", "/../Web/../secret.txt", "/..",
    };
    for (const auto& path : outside) expect_not_found(handle("GET", path), path + " while missing");

    write_file(base_ / "secret.txt", "geheim");
    write_file(base_ / "Web2" / "x.txt", "x");
    for (const auto& path : outside) {
        expect_not_found(handle("GET", path), path);
        expect_not_found(handle("HEAD", path), "HEAD " + path);
    }

    // ".." that stays inside is resolved.
    expect_served(handle("GET", "/sub/../bild.jpg"), root_ / "bild.jpg", "image/jpeg", "/sub/../bild.jpg");
    expect_served(handle("GET", "/sub/..\\sub/a.txt"), root_ / "sub" / "a.txt", "text/plain", "backslash");
    expect_served(handle("GET", "/../Web/sub/a.txt"), root_ / "sub" / "a.txt", "text/plain", "back in");
}

TEST_F(RequestHandlerTest, SymbolicLinksCountWhereTheyLead) {
    write_file(root_ / "bild.jpg", "jpg");
    write_file(base_ / "secret.txt", "geheim");
    write_file(base_ / "Web2" / "x.txt", "x");
    fs::create_symlink(base_ / "secret.txt", root_ / "out.txt");
    fs::create_directory_symlink(base_ / "Web2", root_ / "web2");
    fs::create_directory_symlink("..", root_ / "up");
    fs::create_symlink("bild.jpg", root_ / "alias.jpg");
    fs::create_directory_symlink(root_, root_ / "self");

    expect_not_found(handle("GET", "/out.txt"), "/out.txt");
    expect_not_found(handle("HEAD", "/out.txt"), "HEAD /out.txt");
    expect_not_found(handle("GET", "/web2/x.txt"), "/web2/x.txt");
    expect_not_found(handle("GET", "/up/secret.txt"), "/up/secret.txt");

    const Response alias = handle("GET", "/alias.jpg");
    expect_served(alias, root_ / "bild.jpg", "image/jpeg", "/alias.jpg");
    expect_served(handle("GET", "/self/bild.jpg"), root_ / "bild.jpg", "image/jpeg", "/self/bild.jpg");
}

TEST_F(RequestHandlerTest, WebRootGivenThroughALinkOrWithDots) {
    write_file(root_ / "bild.jpg", "jpg");
    write_file(base_ / "secret.txt", "geheim");
    fs::create_directory_symlink(root_, base_ / "WebLink");
    env_.web_root = base_ / "WebLink";
    expect_served(handle("GET", "/bild.jpg"), root_ / "bild.jpg", "image/jpeg", "root through link");
    expect_not_found(handle("GET", "/../secret.txt"), "outside of linked root");
    env_.web_root = base_ / "Web" / "." / ".." / "Web" / "";
    expect_served(handle("GET", "/bild.jpg"), root_ / "bild.jpg", "image/jpeg", "root with dots");
}

// Raw request lines through the parser and the handler: every encoding of a way out of the web
// root ends at the not-found page and never sends a file.
TEST_F(RequestHandlerTest, EncodedWaysOutOfTheWebRootThroughTheParser) {
    write_file(root_ / "bild.jpg", "jpg");
    write_file(base_ / "secret.txt", "geheim");
    write_file(base_ / "Web2" / "x.txt", "x");
    fs::create_symlink(base_ / "secret.txt", root_ / "out.txt");
    fs::create_directory_symlink(base_ / "Web2", root_ / "web2");

    std::string thousand_up;
    for (int i = 0; i < 1000; ++i) thousand_up += "../";
    const std::vector<std::string> targets = {
        "/../secret.txt",
        "/%2e%2e/secret.txt",
        "/%2E%2E%2Fsecret.txt",
        "/%2E%2E/%2E%2E/%2E%2E/etc/passwd",
        "/..%5csecret.txt",
        "/..%5C..%5Cetc%5Cpasswd",
        "\\..\\secret.txt",
        "/sub\\..\\..\\secret.txt",
        "//etc/passwd",
        "///etc/passwd",
        "/%2fetc%2fpasswd",
        "%2fetc%2fpasswd",
        "/./../secret.txt",
        "/.%2e/secret.txt",
        "/%252e%252e/secret.txt",  // decoded once only: a name "%2e%2e"
        "http://host/../secret.txt",
        "http://host/../../etc/passwd",
        "http:/../secret.txt",
        "/out%2etxt",
        "/%6Fut.txt",
        "/web2%2Fx.txt",
        "/web2/%2e%2e/secret.txt",
        "/secret.txt%00.jpg",
        "/..%00/secret.txt",
        "/%c0%ae%c0%ae/secret.txt",
        "/%c0%ae%c0%ae%c0%af%c0%ae%c0%ae%c0%afetc%c0%afpasswd",
        "/%e0%80%ae%e0%80%ae/secret.txt",
        "/" + thousand_up + "secret.txt",
        "/" + thousand_up + "etc/passwd",
        "/sub/" + thousand_up + "Web/../secret.txt",
    };
    for (const std::string& target : targets) {
        for (const char* command : {"GET", "HEAD"}) {
            RequestParser parser;
            const std::string what = std::string(command) + " " + target.substr(0, 80);
            ASSERT_EQ(parser.feed(std::string(command) + " " + target + " HTTP/1.0\r\n\r\n"), ParseStatus::complete)
                << what;
            const Response r =
                run_handler(parser.request(), [this](const Request& q, Response& s) { HandleRequest(env_, q, s); });
            expect_not_found(r, what);
            EXPECT_EQ(r.body().find("geheim"), std::string::npos) << what;
            EXPECT_EQ(r.body().find("root:"), std::string::npos) << what;
        }
    }

    // The same parser and handler do serve the file inside, also when spelled with escapes; a
    // "%00" vanishes in decoding and cuts nothing off.
    for (const std::string target : {"/bild.jpg", "/%62ild.jpg", "/sub/%2e%2e/bild.jpg", "\\bild.jpg", "/bild.jpg%00"}) {
        RequestParser parser;
        ASSERT_EQ(parser.feed("GET " + target + " HTTP/1.0\r\n\r\n"), ParseStatus::complete) << target;
        const Response r =
            run_handler(parser.request(), [this](const Request& q, Response& s) { HandleRequest(env_, q, s); });
        expect_served(r, root_ / "bild.jpg", "image/jpeg", target);
    }
}

// A raw NUL byte in the request line: refused by the parser or not found, never the file.
TEST_F(RequestHandlerTest, ARawNulInTheTargetSendsNoFile) {
    write_file(base_ / "secret.txt", "geheim");
    write_file(root_ / "bild.jpg", "jpg");
    for (const std::string& target :
         {std::string("/../secret.txt\0.jpg", 19), std::string("/bild.jpg\0", 10), std::string("/\0/../secret.txt", 16)}) {
        RequestParser parser;
        if (parser.feed("GET " + target + " HTTP/1.0\r\n\r\n") != ParseStatus::complete) continue;
        const Response r =
            run_handler(parser.request(), [this](const Request& q, Response& s) { HandleRequest(env_, q, s); });
        expect_not_found(r, "NUL");
    }
}

TEST_F(RequestHandlerTest, OnlyRegularFilesAreServed) {
    ASSERT_EQ(::mkfifo((root_ / "pipe.txt").c_str(), 0600), 0);
    expect_not_found(handle("GET", "/pipe.txt"), "FIFO");
    expect_not_found(handle("HEAD", "/pipe.txt"), "HEAD FIFO");
    fs::create_directories(root_ / "ordner.html");
    expect_not_found(handle("GET", "/ordner.html"), "folder");
}

TEST_F(RequestHandlerTest, DecodedNamesWithBlanksAndUmlauts) {
    // Windows-1252 bytes of the decoded path are the file name's bytes.
    const std::string name = "Gr\xFC\xDF" "e an S\xFC" "d.txt";
    write_file(root_ / "Ordner \xC4" / name, "hallo");

    RequestParser parser;
    ASSERT_EQ(parser.feed("GET /Ordner%20%C4/Gr%FC%DFe%20an%20S%FCd.txt HTTP/1.0\r\n\r\n"), ParseStatus::complete);
    const Response r = run_handler(parser.request(), [this](const Request& q, Response& s) { HandleRequest(env_, q, s); });
    expect_served(r, root_ / "Ordner \xC4" / name, "text/plain", "umlauts");
    EXPECT_EQ(r.content_length, 5);

    expect_not_found(handle("GET", "/Ordner%20%C4/" + name), "undecoded");
}

TEST_F(RequestHandlerTest, UnreadableFilesFailAndSendNoFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    write_file(root_ / "gesperrt.txt", "x");
    fs::permissions(root_ / "gesperrt.txt", fs::perms::none);
    for (const char* command : {"GET", "HEAD"}) {
        const Response r = handle(command, "/gesperrt.txt");
        EXPECT_EQ(r.status_code, 500) << command;
        EXPECT_TRUE(r.file.empty()) << command;
        EXPECT_NE(r.body().find("gesperrt.txt"), std::string::npos) << command;
    }
}

TEST_F(RequestHandlerTest, PageFailuresLeaveTheHandlerAndAreNotShown) {
    env_.snapshot = []() -> std::shared_ptr<const ringolan::db::Snapshot> { throw std::runtime_error("kein Stand"); };
    const Response r = handle("GET", "/vstbl.php");
    EXPECT_EQ(r.status_code, 500);
    EXPECT_EQ(r.body(), "kein Stand");
    EXPECT_TRUE(shown_.empty());
}

TEST(RunHandler, AFailureDropsTheFileToSend) {
    const Response r = run_handler(Request{}, [](const Request&, Response& s) {
        s.file = "/etc/hostname";
        s.content_length = 10;
        throw std::runtime_error("kaputt");
    });
    EXPECT_EQ(r.status_code, 500);
    EXPECT_TRUE(r.file.empty());
    EXPECT_EQ(serialize(r),
              "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\nContent-Type: text/html\r\n"
              "Content-Length: 6\r\nServer: Indy/9.0.14\r\n\r\nkaputt");
}

}  // namespace
