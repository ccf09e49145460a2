// The headless server program end to end: raw bytes on a socket against the running program.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "db/snapshot/snapshot.h"
#include "db/snapshot/snapshot_build.h"
#include "server/dispatcher.h"
#include "tests/app/server_process.h"
#include "tests/support/process.h"
#include "tools/mkdemo/demo.h"

namespace ringolan::test_app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string head(const std::string& status, std::size_t length, const std::string& type = "text/html") {
    return "HTTP/1.1 " + status + "\r\nConnection: close\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(length) + "\r\nServer: Indy/9.0.14\r\n\r\n";
}

// The dispatcher's not-found page, and the request handler's for a missing file.
const std::string kNotFound =
    "<html><head><title>Error</title></head><body><h1> Seite ist nicht vorhanden </h1></body></html>";
const std::string kFileNotFound = "<html><head><title>Error</title></head><body><h1>Not Found</h1></body></html>";

void write_file(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

class HeadlessServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new fs::path(readback::scratch_dir("headless"));
        demo::DemoOptions options;
        options.shooters = 60;
        demo::write_demo(options, db());
        write_file(web() / "index.html", "<html>Startseite</html>");
        write_file(web() / "bild.jpg", std::string("\xFF\xD8\xFF\xE0 not really a picture", 24));
        write_file(web() / "Web Seite" / "a.htm", "blank in the folder name");
        fs::create_directories(web() / "leer");
        write_file(*dir_ / "secret.txt", "beside the web root");
        write_file(ini(), "[DB]\r\nName=/nowhere/else.mdb\r\n[Startseite]\r\nbild=Test.jpg\r\ntext=\r\n");
        std::string big(3 << 20, 'x');
        write_file(web() / "big.bin", big);
        server_ = new ServerProcess({"--db", db().string(), "--web", web().string(), "--port", "0", "--listen",
                                     "127.0.0.1", "--ini", ini().string(), "--access-log"});
        db::SnapshotInfo info;
        info.source = db();
        info.generation = 1;
        snapshot_ = new std::shared_ptr<const db::Snapshot>(
            db::Snapshot::from_image(db::build_snapshot_image(db()), info));
    }
    static void TearDownTestSuite() {
        delete server_;
        delete snapshot_;
        std::error_code ec;
        fs::remove_all(*dir_, ec);
        delete dir_;
    }

    static fs::path db() { return *dir_ / "wettkampf.mdb"; }
    static fs::path web() { return *dir_ / "Web"; }
    static fs::path ini() { return *dir_ / "ringolan.ini"; }
    static uint16_t port() { return server_->port(); }

    // The page as the dispatcher makes it from the same file and settings.
    static std::string page(std::string_view path, std::string_view query) {
        pages::PageContext ctx;
        ctx.snapshot = *snapshot_;
        ctx.start.StartPicture = "Test.jpg";
        ctx.start.LinkText = "";
        const server::PageResult r = server::DispatchPage(ctx, path, query);
        return head(r.status == 200 ? "200 OK" : "404 Not Found", r.body.size()) + r.body;
    }

    static fs::path* dir_;
    static ServerProcess* server_;
    static std::shared_ptr<const db::Snapshot>* snapshot_;
};

fs::path* HeadlessServer::dir_ = nullptr;
ServerProcess* HeadlessServer::server_ = nullptr;
std::shared_ptr<const db::Snapshot>* HeadlessServer::snapshot_ = nullptr;

TEST_F(HeadlessServer, PagesAreAnsweredByteExactly) {
    // Lower-case command, HTTP/1.0, keep-alive asked for: answered with close, then closed.
    EXPECT_EQ(exchange(port(), "get /vstbl.php HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"), page("/vstbl.php", ""));
    EXPECT_EQ(exchange(port(), "GET /est.php?ST=3 HTTP/1.1\r\nHost: x\r\n\r\n"), page("/est.php", "ST=3"));
    // The start page takes its picture and link from the settings file.
    const std::string start = exchange(port(), "GET /START.PHP HTTP/1.1\r\n\r\n");
    EXPECT_EQ(start, page("/start.php", ""));
    EXPECT_NE(start.find("src=\"Test.jpg\""), std::string::npos);
    EXPECT_EQ(start.find("Aktuelle Termine"), std::string::npos);
    // %C4 stays undecoded in the query text the frameset passes on.
    const std::string frames = exchange(port(), "GET /rahmenofls.php?B=%C4 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(frames, page("/rahmenofls.php", "B=%C4"));
    EXPECT_NE(frames.find("ofls.php?B=%C4"), std::string::npos);
    // ".php" anywhere in the path makes a page request; no page matches: the not-found page.
    EXPECT_EQ(exchange(port(), "GET /liste.php.htm HTTP/1.1\r\n\r\n"), head("404 Not Found", kNotFound.size()) + kNotFound);
}

TEST_F(HeadlessServer, PostBodiesWithAndWithoutLength) {
    const std::string expected = page("/est.php", "ST=3");
    EXPECT_EQ(exchange(port(), "POST /est.php?ST=3 HTTP/1.1\r\nContent-Length: 5\r\n\r\na=1&b"), expected);
    // Without a length the body runs to the end of the client's sending.
    RawClient c(port());
    ASSERT_TRUE(c.send("POST /est.php?ST=3 HTTP/1.0\r\n\r\nST=4&x=1"));
    c.shutdown_write();
    EXPECT_EQ(c.receive_all(), expected);
    // HEAD of a page is generated like GET.
    EXPECT_EQ(exchange(port(), "HEAD /est.php?ST=3 HTTP/1.1\r\n\r\n"), expected);
}

TEST_F(HeadlessServer, RefusedRequestsGetNoBytes) {
    for (const char* request :
         {"PUT /vstbl.php HTTP/1.1\r\n\r\n", "OPTIONS * HTTP/1.1\r\n\r\n", "GETNOBLANK\r\n\r\n",
          "GET /vstbl.php HTTP/1.1\r\nAuthorization: Digest username=\"a\"\r\n\r\n"}) {
        EXPECT_EQ(exchange(port(), request), "") << request;
    }
    // A line of 16,385 bytes is refused; 16,384 bytes are still read.
    const std::string prefix = "GET /";
    const std::string suffix = " HTTP/1.1";
    const std::string fill_ok(16384 - prefix.size() - suffix.size(), 'a');
    EXPECT_EQ(exchange(port(), prefix + fill_ok + suffix + "\r\n\r\n"),
              head("404 Not Found", kFileNotFound.size()) + kFileNotFound);
    EXPECT_EQ(exchange(port(), prefix + fill_ok + "a" + suffix + "\r\n\r\n"), "");
}

TEST_F(HeadlessServer, FailingPageIs500WithItsText) {
    const std::string text = "Ung\xFCltige Startnummer: \xBB" "abc\xAB";
    EXPECT_EQ(exchange(port(), "GET /est.php?ST=abc HTTP/1.1\r\n\r\n"), head("500 Internal Server Error", text.size()) + text);
    // Request text in the message is escaped.
    const std::string echoed = exchange(port(), "GET /est.php?ST=%3Cb%3E HTTP/1.1\r\n\r\n");
    EXPECT_NE(echoed.find("%3Cb%3E"), std::string::npos);  // the query text is not decoded
    const std::string tag = exchange(port(), "GET /est.php?ST=<b> HTTP/1.1\r\n\r\n");
    EXPECT_EQ(tag.find("<b>"), std::string::npos);
    EXPECT_NE(tag.find("&lt;b&gt;"), std::string::npos);
    EXPECT_TRUE(server_->log().find("failure /est.php") != std::string::npos) << server_->log();
    // A line end in the path cannot start a forged log line; the German text is logged as UTF-8.
    exchange(port(), "GET /est.php%0A2026-01-01%20forged?ST=x HTTP/1.1\r\n\r\n");
    std::this_thread::sleep_for(100ms);
    const std::string log = server_->log();
    EXPECT_EQ(log.find("\n2026-01-01 forged"), std::string::npos) << log;
    EXPECT_NE(log.find("failure /est.php?2026-01-01 forged: Ung\xC3\xBCltige Startnummer"), std::string::npos) << log;
}

TEST_F(HeadlessServer, FilesFromTheWebRoot) {
    const std::string picture = readback::file_bytes(web() / "bild.jpg");
    EXPECT_EQ(exchange(port(), "GET /bild.jpg HTTP/1.1\r\n\r\n"), head("200 OK", picture.size(), "image/jpeg") + picture);
    EXPECT_EQ(exchange(port(), "HEAD /bild.jpg HTTP/1.1\r\n\r\n"), head("200 OK", picture.size(), "image/jpeg"));
    EXPECT_EQ(exchange(port(), "GET / HTTP/1.1\r\n\r\n"), head("200 OK", 23) + "<html>Startseite</html>");
    EXPECT_EQ(exchange(port(), "GET /leer/ HTTP/1.1\r\n\r\n"), head("404 Not Found", kFileNotFound.size()) + kFileNotFound);
    EXPECT_EQ(exchange(port(), "GET /Web%20Seite/a.htm HTTP/1.1\r\n\r\n"), head("200 OK", 24) + "blank in the folder name");
    // Nothing beside the web root is served or revealed.
    for (const char* target : {"/../secret.txt", "/%2e%2e/secret.txt", "/..%2Fsecret.txt", "/..\\secret.txt"}) {
        EXPECT_EQ(exchange(port(), std::string("GET ") + target + " HTTP/1.1\r\n\r\n"),
                  head("404 Not Found", kFileNotFound.size()) + kFileNotFound)
            << target;
    }
}

TEST_F(HeadlessServer, RequestSentOneByteAtATime) {
    const std::string request = "GET /est.php?ST=7 HTTP/1.1\r\nHost: a\r\n\r\n";
    RawClient c(port());
    for (char ch : request) {
        ASSERT_TRUE(c.send(std::string_view(&ch, 1)));
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(c.receive_all(), page("/est.php", "ST=7"));
}

TEST_F(HeadlessServer, ClientThatResetsMidAnswerDoesNotHurtTheServer) {
    for (int i = 0; i < 20; ++i) {
        RawClient c(port());
        int small = 4096;
        ::setsockopt(c.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        ASSERT_TRUE(c.send("GET /big.bin HTTP/1.1\r\n\r\n"));
        EXPECT_EQ(c.receive_some(1000).size(), 1000u);
        c.reset();
    }
    EXPECT_TRUE(server_->running());
    const std::string answer = exchange(port(), "GET /big.bin HTTP/1.1\r\n\r\n");
    EXPECT_EQ(answer.size(), head("200 OK", 3 << 20, "application/octet-stream").size() + (3u << 20));
    EXPECT_EQ(exchange(port(), "GET /vstbl.php HTTP/1.1\r\n\r\n"), page("/vstbl.php", ""));
}

// A thousand clients that send one byte per second hold a connection each; a normal client is
// still answered at once, not after them.
TEST_F(HeadlessServer, SlowClientsDoNotStallOthers) {
    constexpr int kSlow = 1000;
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < kSlow; ++i) {
        slow.push_back(std::make_unique<RawClient>(port()));
        ASSERT_TRUE(slow.back()->connected()) << i;
    }
    const std::string request = "GET /vstbl.php HTTP/1.0\r\n\r\n";
    const std::string expected = page("/vstbl.php", "");
    // The slow clients keep sending, one byte a second, until the normal requests are done (at
    // most the whole request line, well inside their time limit).
    std::atomic<bool> done{false}, dribble_ended{false};
    std::thread dribble([&] {
        for (std::size_t k = 0; k < 8 && !done; ++k) {
            for (auto& c : slow) c->send(std::string_view(&request[k], 1));
            std::this_thread::sleep_for(1s);
        }
        dribble_ended = true;
    });
    std::this_thread::sleep_for(1500ms);  // all slow clients are mid-request now
    int answered = 0;
    for (int i = 0; i < 20; ++i) answered += exchange(port(), request) == expected;
    const bool slow_clients_still_sending = !dribble_ended;
    done = true;
    dribble.join();
    EXPECT_EQ(answered, 20);
    EXPECT_TRUE(slow_clients_still_sending);
    slow.clear();
    EXPECT_TRUE(server_->running());
}

TEST_F(HeadlessServer, AccessLogHasOneLinePerRequest) {
    exchange(port(), "GET /vstbl.php?marker=42 HTTP/1.1\r\n\r\n");
    std::this_thread::sleep_for(100ms);
    const std::string log = server_->log();
    EXPECT_NE(log.find("access 127.0.0.1 GET /vstbl.php?marker=42 200 "), std::string::npos) << log;
    EXPECT_NE(log.find("started: competition file " + db().string()), std::string::npos) << log;
}

// Start and stop of the program itself.
class HeadlessLifecycle : public HeadlessServer {};

TEST_F(HeadlessLifecycle, StopsCleanlyOnSignals) {
    for (int signal : {SIGTERM, SIGINT}) {
        ServerProcess p({"--db", db().string(), "--web", web().string(), "--port", "0", "--listen", "127.0.0.1"});
        RawClient idle(p.port());  // an open connection does not hold the stop up
        EXPECT_EQ(exchange(p.port(), "GET /vstbl.php HTTP/1.1\r\n\r\n"), page("/vstbl.php", ""));
        EXPECT_EQ(p.stop(signal, 6s), std::optional<int>(0)) << p.log();
        EXPECT_NE(p.log().find("stopped"), std::string::npos) << p.log();
    }
}

TEST_F(HeadlessLifecycle, TakenPortAndMissingDatabaseExitWithOne) {
    Finished taken = run_to_end({"--db", db().string(), "--port", std::to_string(port()), "--listen", "127.0.0.1"});
    EXPECT_EQ(taken.exit_code, 1);
    EXPECT_NE(taken.err.find("cannot listen"), std::string::npos) << taken.err;
    EXPECT_NE(taken.err.find(std::to_string(port())), std::string::npos) << taken.err;

    Finished missing = run_to_end({"--db", (*dir_ / "fehlt.mdb").string(), "--port", "0"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("Datenbank konnte nicht ge\xC3\xB6" "ffnet werden!"), std::string::npos) << missing.err;

    Finished bad = run_to_end({"--port", "http"});
    EXPECT_EQ(bad.exit_code, 2);
}

TEST_F(HeadlessLifecycle, DatabaseComesFromTheSettingsFile) {
    const fs::path other_ini = *dir_ / "other.ini";
    write_file(other_ini, "[db]\nNAME=" + db().string() + "\n");  // names in any letter case
    ServerProcess p({"--ini", other_ini.string(), "--web", web().string(), "--port", "0", "--listen", "127.0.0.1"});
    EXPECT_EQ(exchange(p.port(), "GET /vstbl.php HTTP/1.1\r\n\r\n"), page("/vstbl.php", ""));
    // Without --db the settings file's database is used: this one names a missing file.
    Finished f = run_to_end({"--ini", ini().string(), "--port", "0"});
    EXPECT_EQ(f.exit_code, 1);
    EXPECT_NE(f.err.find("/nowhere/else.mdb"), std::string::npos) << f.err;
}

}  // namespace
}  // namespace ringolan::test_app
