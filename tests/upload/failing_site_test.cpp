// The upload run against a site that fails: a ringolan-site killed in the middle of a table's
// POST, a site that is slow or silent, and sites that answer garbage. Every run ends within the
// client's limits with an error, never reports success, and a later run to a working site
// succeeds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "tests/support/process.h"
#include "tests/upload/script_peer.h"
#include "tests/upload/site_process.h"
#include "tests/upload/upload_fixture.h"
#include "tools/mkdemo/demo.h"
#include "upload/upload_run.h"

using namespace ringolan;
using namespace ringolan::test_upload;
using namespace std::chrono_literals;
using upload::testing::PeerConn;
using upload::testing::ScriptPeer;

namespace {

const std::string kSuccess = "Upload erfolgreich beendet.";

struct Outcome {
    std::vector<std::string> log;
    std::vector<std::string> stamps;  // texts handed to the itdatum writer
    std::string error;                // what() of the run's exception; empty on success
    bool threw = false;
    std::chrono::steady_clock::duration took{};
};

class FailingSite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new fs::path(scratch_dir() / "failing");
        fs::create_directories(*dir_);
        demo::DemoOptions options;
        options.shooters = 40;
        demo::write_demo(options, *dir_ / "demo.mdb");
        snapshot_ = new std::shared_ptr<const db::Snapshot>(snapshot_of(*dir_ / "demo.mdb"));
    }
    static void TearDownTestSuite() {
        delete snapshot_;
        delete dir_;
    }

    // One run with client to base; every exception is caught and recorded.
    static Outcome run(upload::HttpClient& client, const std::string& base) {
        Outcome out;
        upload::UploadEvents events;
        events.append = [&](const std::string& l) { out.log.push_back(l); };
        events.replace_last = [&](const std::string& l) {
            if (out.log.empty()) out.log.push_back(l);
            else out.log.back() = l;
        };
        upload::UploadRun upload_run(client, events, [&](const fs::path&, const std::string& text) {
            out.stamps.push_back(text);
            return upload::ItdatumResult{false, "test"};
        });
        upload::UploadRequest r{base, "club1", "pw", upload::StarterFilter::All, *dir_, *dir_ / "demo.mdb", 0};
        const auto start = std::chrono::steady_clock::now();
        try {
            upload_run.run(r, **snapshot_);
        } catch (const std::exception& e) {
            out.threw = true;
            out.error = e.what();
        }
        out.took = std::chrono::steady_clock::now() - start;
        return out;
    }

    static void expect_failed(const Outcome& o, const std::string& what) {
        EXPECT_TRUE(o.threw) << what;
        EXPECT_FALSE(o.error.empty()) << what;
        for (const auto& line : o.log) {
            EXPECT_NE(line, kSuccess) << what;
            EXPECT_EQ(line.find("fertig hochgeladen"), std::string::npos) << what;
        }
        // The time stamp is the run's start, handed over once before the first table; nothing
        // is written when the run fails.
        EXPECT_LE(o.stamps.size(), 1u) << what;
    }

    static inline fs::path* dir_ = nullptr;
    static inline std::shared_ptr<const db::Snapshot>* snapshot_ = nullptr;
};

// A blocking loopback connection of the relay.
class Upstream {
public:
    explicit Upstream(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Upstream() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void send(std::string_view bytes) {
        while (!bytes.empty()) {
            const long n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0) return;
            bytes.remove_prefix(size_t(n));
        }
    }
    std::string read_all() {
        std::string out;
        char buf[16384];
        for (long n; (n = ::recv(fd_, buf, sizeof buf, 0)) > 0;) out.append(buf, size_t(n));
        return out;
    }

private:
    int fd_ = -1;
};

// Forwards each request to the site with "Connection: close" and sends the site's reply back.
// The POST numbered kill_at (from 1) reaches the site only half; then the site is killed and the
// client's connection closed without a reply.
std::vector<ScriptPeer::Script> relay(SiteProcess& site, int kill_at, std::atomic<int>& posts) {
    std::vector<ScriptPeer::Script> scripts;
    for (int i = 0; i < 64; ++i)
        scripts.push_back([&site, &posts, kill_at](PeerConn& c) {
            std::string request = c.read_request();
            if (request.empty()) return;
            const size_t head_end = request.find("\r\n\r\n");
            std::string head = request.substr(0, head_end + 2);
            const std::string body = request.substr(head_end + 4);
            for (size_t at; (at = head.find("Connection: keep-alive\r\n")) != std::string::npos;)
                head.erase(at, 24);
            head += "Connection: close\r\n\r\n";
            Upstream up(site.port());
            if (!up.ok()) return;
            if (request.rfind("POST ", 0) == 0 && ++posts == kill_at) {
                up.send(head);
                up.send(body.substr(0, body.size() / 2));
                std::this_thread::sleep_for(100ms);
                site.kill_now();
                c.close();
                return;
            }
            up.send(head + body);
            c.send(up.read_all());
            c.close();
        });
    return scripts;
}

TEST_F(FailingSite, KilledDuringAPostTheRunFailsAtThatTableAndARestartedSiteTakesTheNextRun) {
    const fs::path site_dir = *dir_ / "site-killed";
    std::atomic<int> posts{0};
    upload::HttpClient client;
    {
        SiteProcess site(RINGOLAN_SITE_PROGRAM, site_dir, "club1", "pw");
        ScriptPeer front(relay(site, 3, posts));
        const Outcome o = run(client, front.base());
        expect_failed(o, "killed");
        EXPECT_EQ(posts.load(), 3);
        EXPECT_EQ(o.stamps.size(), 1u);
        // The error is the client's; the log's last line names the table whose post broke.
        EXPECT_TRUE(o.error.find("Connection closed") != std::string::npos ||
                    o.error.find("reset") != std::string::npos || o.error.find("Broken pipe") != std::string::npos)
            << o.error;
        ASSERT_FALSE(o.log.empty());
        EXPECT_EQ(o.log.back().rfind("verein-Daten hochladen (", 0), 0u) << o.log.back();
        ASSERT_GE(o.log.size(), 3u);
        const std::string& before = o.log[o.log.size() - 2];
        EXPECT_EQ(before.rfind("raenge-Daten (", 0), 0u) << before;
        EXPECT_EQ(before.substr(before.size() - 5), ") OK ") << before;
        EXPECT_LT(o.took, 30s);
    }
    // The site comes back on its old data; the same client (its kept connection led to the
    // dead relay) runs again from the deletion to the end.
    SiteProcess again(RINGOLAN_SITE_PROGRAM, site_dir, "club1", "pw");
    const Outcome o = run(client, again.base());
    EXPECT_FALSE(o.threw) << o.error;
    ASSERT_FALSE(o.log.empty());
    EXPECT_EQ(o.log.back(), kSuccess);
    EXPECT_EQ(o.log.front(), "OK. Alte Daten wurden gel\xF6scht");
    EXPECT_EQ(o.log.size(), 15u);  // deletion, twelve tables, total, end
}

// ringolan-upload against a site killed in the first POST: exit code 1, the table's step as the
// last printed line, the connection error on standard error, no success line.
TEST_F(FailingSite, TheProgramExitsWithAnErrorWhenTheSiteDiesInAPost) {
    const fs::path work = *dir_ / "cli-killed";
    fs::create_directories(work);
    fs::copy_file(*dir_ / "demo.mdb", work / "demo.mdb", fs::copy_options::overwrite_existing);
    write_bytes(work / "pw.txt", "pw\n");
    std::atomic<int> posts{0};
    SiteProcess site(RINGOLAN_SITE_PROGRAM, work / "site", "club1", "pw");
    ScriptPeer front(relay(site, 1, posts));
    const auto out = readback::run_program(RINGOLAN_UPLOAD_PROGRAM,
                                           "--db " + (work / "demo.mdb").string() + " --url " + front.base() +
                                               " --id club1 --password-file " + (work / "pw.txt").string() +
                                               " --work-dir " + work.string(),
                                           work);
    EXPECT_EQ(out.code, 1) << out.err;
    EXPECT_EQ(out.err.rfind("ringolan-upload: Connection closed", 0), 0u) << out.err;
    EXPECT_EQ(out.out.find("erfolgreich"), std::string::npos) << out.out;
    EXPECT_NE(out.out.find("starter-Daten hochladen ("), std::string::npos) << out.out;
    EXPECT_EQ(posts.load(), 1);
}

// Sites that accept and then take their time: each run ends by the client's limits.
TEST_F(FailingSite, SlowAndSilentSitesEndByTheClientsTimeLimits) {
    struct Case {
        std::string name;
        ScriptPeer::Script script;
        std::string error_start;
    };
    const std::vector<Case> cases = {
        {"never answers",
         [](PeerConn& c) {
             c.read_request();
             c.wait_closed(10s);
         },
         "Read timed out"},
        {"one byte at a time",
         [](PeerConn& c) {
             c.read_request();
             const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n0";
             for (size_t i = 0; i < reply.size() && !c.wait_closed(150ms); ++i) c.send(reply.substr(i, 1));
             for (int i = 0; i < 50 && !c.wait_closed(150ms); ++i) c.send("X");  // never a line end
         },
         ""},
        {"a head, then the body stalls",
         [](PeerConn& c) {
             c.read_request();
             c.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0");
             c.wait_closed(10s);
         },
         "Read timed out"},
        {"interim heads without end",
         [](PeerConn& c) {
             c.read_request();
             for (int i = 0; i < 30 && !c.wait_closed(150ms); ++i) c.send("HTTP/1.1 100 Continue\r\n\r\n");
         },
         ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<ScriptPeer::Script> scripts(4, k.script);
        ScriptPeer peer(scripts);
        upload::ClientOptions options;
        options.connect_timeout = 1s;
        options.read_timeout = 600ms;
        options.reply_timeout = 1500ms;
        options.send_timeout = 1s;
        upload::HttpClient client(options);
        const Outcome o = run(client, peer.base());
        expect_failed(o, k.name);
        EXPECT_EQ(o.error.rfind(k.error_start, 0), 0u) << o.error;
        EXPECT_TRUE(o.error.find("timed out") != std::string::npos || o.error.find("not complete within") != std::string::npos)
            << o.error;
        EXPECT_GE(o.took, 500ms);
        EXPECT_LT(o.took, 5s);
        EXPECT_EQ(o.log, std::vector<std::string>{"Alte Daten werden gel\xF6scht ..."});
        EXPECT_TRUE(o.stamps.empty());
    }
}

// The whole-reply limit also holds for a reply that trickles below the read limit, without
// counting the time the request took to be sent.
TEST_F(FailingSite, ATricklingReplyEndsAtTheReplyLimitNotTheReadLimit) {
    ScriptPeer peer({[](PeerConn& c) {
        c.read_request();
        c.send("HTTP/1.1 200 OK\r\n");
        // Gives up after some seconds, so that a client without the limit fails instead of hanging.
        for (int i = 0; i < 50 && !c.wait_closed(100ms); ++i) c.send("X-Slow: 1\r\n");
    }});
    upload::ClientOptions options;
    options.read_timeout = 1s;
    options.reply_timeout = 800ms;
    upload::HttpClient client(options);
    const auto start = std::chrono::steady_clock::now();
    try {
        client.get(peer.base() + "/x");
        FAIL() << "no error";
    } catch (const upload::TimeoutError& e) {
        EXPECT_NE(std::string(e.what()).find("800 ms"), std::string::npos) << e.what();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 750ms);
    EXPECT_LT(took, 3s);
    EXPECT_FALSE(client.has_connection());
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(rng() & 0xFF);
    return out;
}

// Sites that answer garbage at the deletion or at the first POST: a clear error, no crash, no
// hang, and no success.
TEST_F(FailingSite, GarbageRepliesEndTheRunWithAnError) {
    struct Case {
        std::string name;
        std::string reply;
        bool stall = false;  // keep the connection open after the reply instead of closing it
    };
    std::string many_headers = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 2000; ++i) many_headers += "X-" + std::to_string(i) + ": a\r\n";
    const std::vector<Case> cases = {
        {"random bytes", random_bytes(4096, 1)},
        {"random bytes with line ends", [] {
             std::string s = random_bytes(4096, 2);
             for (size_t i = 0; i < s.size(); i += 37) s[i] = '\n';
             return s;
         }()},
        {"nothing at all", ""},
        {"truncated status line", "HTTP/1.1 20"},
        {"status line only", "HTTP/1.1 200 OK\r\n"},
        {"no number in the status line", "GARBAGE\r\n\r\n"},
        {"huge header line", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(200 * 1024, 'a') + "\r\n\r\n0", true},
        {"too many header lines", many_headers + "\r\n0", true},
        {"Content-Length larger than what comes", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0"},
        {"Content-Length not a number", "HTTP/1.1 200 OK\r\nContent-Length: zwei\r\n\r\n0", true},
        {"negative Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n0", true},
        {"Content-Length beyond 64 bits",
         "HTTP/1.1 200 OK\r\nContent-Length: 999999999999999999999999\r\n\r\n0", true},
        {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n0\r\n\r\n", true},
        {"chunk size beyond 64 bits",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffffff\r\n0\r\n\r\n", true},
        {"chunk longer than announced", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\n0123\r\n0\r\n\r\n",
         true},
        {"chunks cut off", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n0"},
    };
    for (const bool at_post : {false, true}) {
        for (const Case& k : cases) {
            const std::string what = k.name + (at_post ? " (at the post)" : " (at the deletion)");
            SCOPED_TRACE(what);
            std::vector<ScriptPeer::Script> scripts;
            if (at_post)
                scripts.push_back([](PeerConn& c) {
                    c.read_request();
                    c.send(upload::testing::reply("HTTP/1.1 200 OK", "Connection: close\r\n", "0"));
                    c.close();
                });
            for (int i = 0; i < 3; ++i)
                scripts.push_back([k](PeerConn& c) {
                    if (c.read_request().empty()) return;
                    c.send(k.reply);
                    if (k.stall) c.wait_closed(10s);
                    c.close();
                });
            ScriptPeer peer(scripts);
            upload::ClientOptions options;
            options.read_timeout = 5s;
            options.reply_timeout = 6s;
            upload::HttpClient client(options);
            const Outcome o = run(client, peer.base());
            expect_failed(o, what);
            EXPECT_LT(o.took, 2500ms) << "the garbage is recognised without waiting for a time limit";
            ASSERT_FALSE(o.log.empty());
            if (at_post) EXPECT_EQ(o.log.back().rfind("starter-Daten hochladen (", 0), 0u) << o.log.back();
            else EXPECT_EQ(o.log.back(), "Alte Daten werden gel\xF6scht ...");
            // An error text carries at most a bounded part of what the site sent.
            EXPECT_LE(o.error.size(), 70u * 1024) << o.error.substr(0, 100);
        }
    }
}

}  // namespace
