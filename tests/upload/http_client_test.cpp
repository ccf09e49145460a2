// The HTTP client against a scripted peer on loopback: the exact request bytes, connection
// reuse, reply framing, cookies, errors and time limits.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/upload/script_peer.h"
#include "upload/http_client.h"

namespace ringolan::upload {
namespace {

using namespace std::chrono_literals;
using testing::PeerConn;
using testing::reply;
using testing::ScriptPeer;

const std::string kTail = "Accept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";

std::string host_line(const ScriptPeer& peer) { return "Host: 127.0.0.1:" + std::to_string(peer.port()) + "\r\n"; }

// Answers every request on the connection with the given reply until the client closes.
ScriptPeer::Script answer_all(std::string bytes) {
    return [bytes](PeerConn& c) {
        while (!c.read_request().empty()) c.send(bytes);
    };
}

ScriptPeer::Script answer_once_then_close(std::string bytes) {
    return [bytes](PeerConn& c) {
        c.read_request();
        c.send(bytes);
        c.close();
    };
}

TEST(HttpClientRequests, FirstGetHasOnlyHostAcceptAndAgentAndEncodesTheValues) {
    ScriptPeer peer({answer_all(reply("HTTP/1.1 200 OK", "", "0"))});
    HttpClient client;
    std::string address = build_address(peer.base(), "/ergebnisse/loeschen.php",
                                        {{"id", "K&S 1"}, {"pw", "a#b+c%d\\e"}});
    EXPECT_EQ(client.get(address), "0");
    ASSERT_EQ(peer.received().size(), 1u);
    EXPECT_EQ(peer.received()[0], "GET /ergebnisse/loeschen.php?id=K%26S%201&pw=a%23b%2Bc%25d%5Ce HTTP/1.1\r\n" +
                                      host_line(peer) + kTail + "\r\n");
}

TEST(HttpClientRequests, PostIsHttp10OnANewConnectionAndItsFieldsCarryOverToLaterGets) {
    ScriptPeer peer({answer_all(reply("HTTP/1.1 200 OK", "", "0")),
                     [](PeerConn& c) {
                         c.read_request();
                         c.send(reply("HTTP/1.1 200 OK", "Connection: Keep-Alive\r\n", "stored"));
                         c.read_request();
                         c.send(reply("HTTP/1.1 200 OK", "", ""));
                         c.wait_closed();
                     }});
    HttpClient client;
    client.get(peer.base() + "/ergebnisse/loeschen.php?id=a&pw=b");
    ASSERT_TRUE(client.has_connection());

    client.set_content_type("multipart/form-data; boundary=-----------------------------120925143007123");
    StringBodySource body("hello world");
    std::string answer;
    client.post(peer.base() + "/ergebnisse/5.php?id=a", body, [&](std::string_view piece) { answer += piece; });
    EXPECT_EQ(answer, "stored");
    client.get(peer.base() + "/ergebnisse/einfuegen.php?id=a&pw=b");

    auto got = peer.received();
    ASSERT_EQ(got.size(), 2u) << "the POST opens a second connection, the GET after it reuses that one";
    const std::string content_type =
        "Content-Type: multipart/form-data; boundary=-----------------------------120925143007123\r\n";
    EXPECT_EQ(got[1], "POST /ergebnisse/5.php?id=a HTTP/1.0\r\nConnection: keep-alive\r\n" + content_type +
                          "Content-Length: 11\r\n" + host_line(peer) + kTail + "\r\nhello world" +
                          "GET /ergebnisse/einfuegen.php?id=a&pw=b HTTP/1.1\r\nConnection: keep-alive\r\n" +
                          content_type + host_line(peer) + kTail + "\r\n");
}

TEST(HttpClientRequests, EmptyPostBodyStillSendsItsLength) {
    ScriptPeer peer({answer_once_then_close(reply("HTTP/1.1 200 OK", "", ""))});
    HttpClient client;
    StringBodySource body("");
    client.post(peer.base() + "/p", body);
    EXPECT_EQ(peer.received().at(0),
              "POST /p HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: 0\r\n" + host_line(peer) + kTail + "\r\n");
}

TEST(HttpClientRequests, LargeBodyIsStreamedFromAFileUnchanged) {
    auto file = std::filesystem::temp_directory_path() / ("ringolan-post-" + std::to_string(::getpid()) + ".bin");
    std::string content;
    for (int i = 0; i < 3 * 1024 * 1024 + 7; ++i) content += static_cast<char>((i * 131 + i / 977) & 0xFF);
    std::ofstream(file, std::ios::binary) << content;

    ScriptPeer peer({answer_once_then_close(reply("HTTP/1.1 200 OK", "", "ok"))});
    HttpClient client;
    {
        FileBodySource body(file);
        client.post(peer.base() + "/ergebnisse/5.php?id=x", body);
    }
    std::filesystem::remove(file);
    std::string got = peer.received().at(0);
    auto head_end = got.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos);
    EXPECT_NE(got.find("\r\nContent-Length: " + std::to_string(content.size()) + "\r\n"), std::string::npos);
    EXPECT_TRUE(got.substr(head_end + 4) == content) << "body differs; " << got.size() - head_end - 4 << " bytes";
}

TEST(HttpClientConnections, PostAnswerWithoutKeepAliveClosesTheConnection) {
    ScriptPeer peer({[](PeerConn& c) {
                         c.read_request();
                         c.send(reply("HTTP/1.1 200 OK", "", ""));
                         c.wait_closed();
                     },
                     answer_all(reply("HTTP/1.1 200 OK", "", "3"))});
    HttpClient client;
    StringBodySource body("x");
    client.post(peer.base() + "/p", body);
    EXPECT_FALSE(client.has_connection());
    EXPECT_EQ(client.get(peer.base() + "/c"), "3");
    EXPECT_EQ(peer.connections(), 2);
}

TEST(HttpClientConnections, PostAnswerWithProxyConnectionKeepAliveKeepsIt) {
    ScriptPeer peer({answer_all(reply("HTTP/1.1 200 OK", "Proxy-Connection: KEEP-ALIVE\r\n", "1"))});
    HttpClient client;
    StringBodySource body("x");
    client.post(peer.base() + "/p", body);
    EXPECT_TRUE(client.has_connection());
    EXPECT_EQ(client.get(peer.base() + "/c"), "1");
    EXPECT_EQ(peer.connections(), 1);
}

TEST(HttpClientConnections, TwoPostsNeverShareAConnection) {
    std::string keep = reply("HTTP/1.1 200 OK", "Connection: keep-alive\r\n", "");
    ScriptPeer peer({answer_all(keep), answer_all(keep)});
    HttpClient client;
    StringBodySource body("x");
    client.post(peer.base() + "/p", body);
    EXPECT_TRUE(client.has_connection());
    client.post(peer.base() + "/p", body);
    EXPECT_EQ(peer.connections(), 2);
    EXPECT_EQ(peer.received().at(1).substr(0, 17), "POST /p HTTP/1.0\r") << "the body is sent again from its first byte";
}

TEST(HttpClientConnections, GetKeepsTheConnectionUnlessTheAnswerSaysClose) {
    ScriptPeer peer({[](PeerConn& c) {
                         c.read_request();
                         c.send(reply("HTTP/1.1 200 OK", "", "a"));
                         c.read_request();
                         c.send(reply("HTTP/1.1 200 OK", "connection: CLOSE\r\n", "b"));
                         c.wait_closed();
                     },
                     answer_all(reply("HTTP/1.1 200 OK", "", "c"))});
    HttpClient client;
    EXPECT_EQ(client.get(peer.base() + "/1"), "a");
    EXPECT_EQ(client.get(peer.base() + "/2"), "b");
    EXPECT_FALSE(client.has_connection());
    EXPECT_EQ(client.get(peer.base() + "/3"), "c");
    EXPECT_EQ(peer.connections(), 2);
}

TEST(HttpClientConnections, AnotherPortOrHostClosesTheOpenConnection) {
    ScriptPeer first({answer_all(reply("HTTP/1.1 200 OK", "", "1")), answer_all(reply("HTTP/1.1 200 OK", "", "3"))});
    ScriptPeer second({answer_all(reply("HTTP/1.1 200 OK", "", "2"))});
    HttpClient client;
    EXPECT_EQ(client.get(first.base() + "/"), "1");
    EXPECT_EQ(client.get(second.base() + "/"), "2");
    EXPECT_EQ(client.get(first.base() + "/"), "3");
    EXPECT_EQ(first.connections(), 2);
    EXPECT_EQ(second.connections(), 1);
    EXPECT_EQ(second.received().at(0).find("Host: 127.0.0.1:" + std::to_string(second.port()) + "\r\n"),
              second.received().at(0).find("\r\n") + 2);
}

TEST(HttpClientConnections, AKeptConnectionThatTheSiteClosedIsReplacedOnce) {
    ScriptPeer peer({answer_once_then_close(reply("HTTP/1.1 200 OK", "", "a")),
                     answer_all(reply("HTTP/1.1 200 OK", "", "b"))});
    HttpClient client;
    EXPECT_EQ(client.get(peer.base() + "/1"), "a");
    std::this_thread::sleep_for(100ms);  // the site's close has arrived
    EXPECT_EQ(client.get(peer.base() + "/2"), "b");
    EXPECT_EQ(peer.connections(), 2);
    EXPECT_EQ(peer.received().at(1).substr(0, 6), "GET /2");
}

TEST(HttpClientReplies, ChunkedCountIsReadCompletelyAndTheConnectionStaysUsable) {
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                          "2\r\n 1\r\n3;name=value\r\n234\r\nA\r\n0123456789\r\n0\r\n\r\n";
    ScriptPeer peer({[chunked](PeerConn& c) {
        c.read_request();
        c.send_slowly(chunked, 5, 2ms);
        c.read_request();
        c.send(reply("HTTP/1.1 200 OK", "", "next"));
        c.wait_closed();
    }});
    HttpClient client;
    EXPECT_EQ(client.get(peer.base() + "/ergebnisse/anzahl.php?id=a&tabelle=starter"), " 12340123456789");
    EXPECT_EQ(client.get(peer.base() + "/again"), "next");
    EXPECT_EQ(peer.connections(), 1);
}

TEST(HttpClientReplies, InterimContinueIsSkipped) {
    ScriptPeer peer({answer_all("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nX: y\r\n\r\n" +
                                reply("HTTP/1.1 200 OK", "", "7"))});
    HttpClient client;
    EXPECT_EQ(client.get(peer.base() + "/"), "7");
}

TEST(HttpClientReplies, FoldedConnectionHeaderIsJoinedAndHonoured) {
    ScriptPeer peer({[](PeerConn& c) {
                         c.read_request();
                         c.send("HTTP/1.1 200 OK\r\nConnection:\r\n\tclose\r\nContent-Length: 1\r\n\r\nx");
                         c.wait_closed();
                     },
                     answer_all(reply("HTTP/1.1 200 OK", "", "y"))});
    HttpClient client;
    EXPECT_EQ(client.get(peer.base() + "/"), "x");
    EXPECT_FALSE(client.has_connection());
    EXPECT_EQ(client.get(peer.base() + "/"), "y");
    EXPECT_EQ(peer.connections(), 2);
}

TEST(HttpClientReplies, BodyWithoutLengthRunsUntilTheSiteCloses) {
    ScriptPeer peer({[](PeerConn& c) {
        c.read_request();
        c.send_slowly("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfirst part, second part", 7, 3ms);
        c.close();
    }});
    HttpClient client;
    EXPECT_EQ(client.get(peer.base() + "/"), "first part, second part");
    EXPECT_FALSE(client.has_connection());
}

TEST(HttpClientReplies, NoContentAndZeroLengthHaveNoBody) {
    ScriptPeer peer({[](PeerConn& c) {
        c.read_request();
        c.send("HTTP/1.1 204 No Content\r\n\r\n");
        c.read_request();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        c.wait_closed();
    }});
    HttpClient client;
    EXPECT_EQ(client.get(peer.base() + "/a"), "");
    EXPECT_EQ(client.get(peer.base() + "/b"), "");
    EXPECT_EQ(peer.connections(), 1);
}

TEST(HttpClientErrors, NotFoundRaisesTheStatusLineAndKeepsTheBody) {
    ScriptPeer peer({answer_all(reply("HTTP/1.1 404 Not Found", "", "no such page"))});
    HttpClient client;
    try {
        client.get(peer.base() + "/ergebnisse/loeschen.php?id=a&pw=b");
        FAIL() << "no error";
    } catch (const HttpStatusError& e) {
        EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
        EXPECT_EQ(e.status(), 404);
        EXPECT_EQ(e.body(), "no such page");
    }
}

TEST(HttpClientErrors, RedirectIsNotFollowed) {
    ScriptPeer peer({answer_once_then_close(
        reply("HTTP/1.1 301 Moved Permanently", "Location: https://example.invalid/ergebnisse/loeschen.php\r\n", ""))});
    HttpClient client;
    try {
        client.get(peer.base() + "/ergebnisse/loeschen.php?id=a&pw=b");
        FAIL() << "no error";
    } catch (const HttpStatusError& e) {
        EXPECT_STREQ(e.what(), "HTTP/1.1 301 Moved Permanently");
    }
    EXPECT_EQ(peer.connections(), 1);
}

TEST(HttpClientErrors, SuccessStatusWithALocationIsARedirectToo) {
    ScriptPeer peer({answer_all(reply("HTTP/1.1 201 Created", "Location: /elsewhere\r\n", ""))});
    HttpClient client;
    EXPECT_THROW(client.get(peer.base() + "/"), HttpStatusError);
}

TEST(HttpClientErrors, StatusLineWithoutNumberFailsWithThatLine) {
    ScriptPeer peer({answer_once_then_close("HTTP/1.1 OK\r\nContent-Length: 0\r\n\r\n")});
    HttpClient client;
    try {
        client.get(peer.base() + "/");
        FAIL() << "no error";
    } catch (const HttpStatusError& e) {
        EXPECT_STREQ(e.what(), "HTTP/1.1 OK");
        EXPECT_EQ(e.status(), -1);
    }
}

TEST(HttpClientErrors, RefusedConnectionRaisesTheSocketError) {
    uint16_t port;
    { ScriptPeer closed({}); port = closed.port(); }
    HttpClient client;
    try {
        client.get("http://127.0.0.1:" + std::to_string(port) + "/");
        FAIL() << "no error";
    } catch (const TransportError& e) {
        EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
    }
}

TEST(HttpClientErrors, ReplyCutShortIsAnError) {
    ScriptPeer peer({answer_once_then_close("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n12345")});
    HttpClient client;
    EXPECT_THROW(client.get(peer.base() + "/"), ReplyFormatError);
    EXPECT_FALSE(client.has_connection());
}

TEST(HttpClientCookies, CookiesGoBackToTheHostThatSetThemOnly) {
    std::string set = reply("HTTP/1.1 200 OK", "Set-Cookie: sid=42; path=/\r\nSet-cookie2: lang=de\r\n", "");
    ScriptPeer peer({answer_all(set), answer_all(reply("HTTP/1.1 200 OK", "", ""))});
    HttpClient client;
    client.get(peer.base() + "/ergebnisse/loeschen.php");
    client.get(peer.base() + "/ergebnisse/anzahl.php");
    client.get(peer.base("localhost") + "/ergebnisse/anzahl.php");

    auto got = peer.received();
    ASSERT_EQ(got.size(), 2u);
    auto second = got[0].substr(got[0].find("GET /ergebnisse/anzahl.php"));
    EXPECT_TRUE(second.ends_with("User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\nCookie: sid=42; lang=de\r\n\r\n"))
        << second;
    EXPECT_EQ(got[0].find("Cookie:"), got[0].rfind("Cookie:")) << "the first request had no cookie";
    EXPECT_EQ(got[1].find("Cookie"), std::string::npos) << "localhost is another host";
    EXPECT_NE(got[1].find("Host: localhost:" + std::to_string(peer.port()) + "\r\n"), std::string::npos);
}

// A listener whose accept queue is full: further connection attempts get no answer at all.
class FullListener {
public:
    FullListener() {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener_, 0);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        ::connect(filler_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    ~FullListener() {
        ::close(filler_);
        ::close(listener_);
    }
    uint16_t port() const { return port_; }

private:
    int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    uint16_t port_ = 0;
};

TEST(HttpClientTimeLimits, UnansweredConnectEndsAfterTheConnectLimit) {
    FullListener full;
    ClientOptions options;
    options.connect_timeout = 300ms;
    HttpClient client(options);
    auto start = std::chrono::steady_clock::now();
    try {
        client.get("http://127.0.0.1:" + std::to_string(full.port()) + "/");
        FAIL() << "no error";
    } catch (const TimeoutError& e) {
        EXPECT_NE(std::string(e.what()).find("Connect timed out"), std::string::npos) << e.what();
    }
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 3s);
    EXPECT_FALSE(client.has_connection());
}

TEST(HttpClientTimeLimits, SilentSiteEndsTheRequestAfterTheReadLimit) {
    ScriptPeer peer({[](PeerConn& c) {
        c.read_request();
        c.wait_closed(5s);
    }});
    ClientOptions options;
    options.read_timeout = 300ms;
    HttpClient client(options);
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.get(peer.base() + "/"), TimeoutError);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 3s);
    EXPECT_FALSE(client.has_connection());
}

TEST(HttpClientTimeLimits, ReadLimitOnAKeptConnectionIsNotRetried) {
    ScriptPeer peer({[](PeerConn& c) {
        c.read_request();
        c.send(reply("HTTP/1.1 200 OK", "", "a"));
        c.read_request();
        c.wait_closed(5s);
    }});
    ClientOptions options;
    options.read_timeout = 1s;
    HttpClient client(options);
    EXPECT_EQ(client.get(peer.base() + "/1"), "a");
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.get(peer.base() + "/2"), TimeoutError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1900ms) << "one wait, not two";
    EXPECT_EQ(peer.connections(), 1) << "a site that is only slow does not get the request twice";
}

TEST(HttpClientTimeLimits, ErrorBodyIsReadForTheErrorLimitOnly) {
    ScriptPeer peer({[](PeerConn& c) {
        c.read_request();
        c.send("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 100\r\n\r\npartial");
        c.wait_closed(5s);
    }});
    ClientOptions options;
    options.error_body_timeout = 200ms;
    HttpClient client(options);  // read limit stays long: the error limit must cut the wait
    auto start = std::chrono::steady_clock::now();
    try {
        client.get(peer.base() + "/");
        FAIL() << "no error";
    } catch (const HttpStatusError& e) {
        EXPECT_STREQ(e.what(), "HTTP/1.1 500 Internal Server Error");
        EXPECT_EQ(e.body(), "partial");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(client.has_connection());
}

TEST(HttpClientCancel, CancelEndsAWaitingRequestAndRefusesLaterOnesUntilResumed) {
    ScriptPeer silent({[](PeerConn& c) {
        c.read_request();
        c.wait_closed(5s);
    }});
    HttpClient client;  // the long default read limit: only the cancel can end the wait early
    std::thread canceller([&] {
        std::this_thread::sleep_for(200ms);
        client.cancel();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.get(silent.base() + "/"), CancelledError);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(client.has_connection());

    ScriptPeer peer({answer_all(reply("HTTP/1.1 200 OK", "", "ok"))});
    EXPECT_THROW(client.get(peer.base() + "/"), CancelledError);
    EXPECT_EQ(peer.connections(), 0);
    client.resume();
    EXPECT_EQ(client.get(peer.base() + "/"), "ok");
    client.disconnect();  // lets the peer's script end before the peer goes
}

}  // namespace
}  // namespace ringolan::upload
