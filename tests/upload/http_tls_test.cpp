// https against a local TLS peer whose certificates are made here with the openssl command:
// a test CA, a certificate it signs for localhost and 127.0.0.1, and one for another name.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/upload/script_peer.h"
#include "upload/http_client.h"
#include "upload/live_http.h"
#include "upload/live_publisher.h"

namespace ringolan::upload {
namespace {

namespace fs = std::filesystem;
using testing::PeerConn;
using testing::reply;
using testing::ScriptPeer;
using testing::TlsIdentity;

class HttpsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("ringolan-tls-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "localhost.ext") << "basicConstraints=CA:FALSE\nsubjectAltName=DNS:localhost,IP:127.0.0.1\n";
        std::ofstream(dir_ / "other.ext") << "basicConstraints=CA:FALSE\nsubjectAltName=DNS:other.invalid\n";
        const std::string d = dir_.string();
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::string script =
            "cd '" + d + "' && "
            "openssl req -x509" + key + " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Ringolan Test CA'"
            " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign && "
            "for n in localhost other; do "
            "openssl req" + key + " -keyout $n.key -out $n.csr -subj /CN=$n && "
            "openssl x509 -req -in $n.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out $n.pem"
            " -extfile $n.ext || exit 1; done";
        made_ = std::system(("(" + script + ") >'" + d + "/openssl.log' 2>&1").c_str()) == 0;
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    void SetUp() override { ASSERT_TRUE(made_) << "openssl failed, see " << (dir_ / "openssl.log"); }

    static TlsIdentity identity(const std::string& name) { return {dir_ / (name + ".pem"), dir_ / (name + ".key")}; }
    static ClientOptions trusting_test_ca() {
        ClientOptions options;
        options.tls.ca_file = dir_ / "ca.pem";
        return options;
    }

    static inline fs::path dir_;
    static inline bool made_ = false;
};

ScriptPeer::Script answer_all_tls(std::string bytes) {
    return [bytes](PeerConn& c) {
        while (!c.read_request().empty()) c.send(bytes);
    };
}

TEST_F(HttpsTest, TrustedCertificateForTheHostCarriesTheRequest) {
    TlsIdentity tls = identity("localhost");
    ScriptPeer peer({answer_all_tls(reply("HTTP/1.1 200 OK", "", "12"))}, &tls);
    HttpClient client(trusting_test_ca());
    EXPECT_EQ(client.get(peer.base("localhost") + "/ergebnisse/anzahl.php?id=a&tabelle=starter"), "12");
    EXPECT_EQ(client.get(peer.base("localhost") + "/ergebnisse/anzahl.php?id=a&tabelle=verein"), "12");
    EXPECT_EQ(peer.connections(), 1) << "the TLS connection is kept like a plain one";
    EXPECT_EQ(peer.received().at(0).substr(0, peer.received().at(0).find("Accept")),
              "GET /ergebnisse/anzahl.php?id=a&tabelle=starter HTTP/1.1\r\nHost: localhost:" +
                  std::to_string(peer.port()) + "\r\n");
}

TEST_F(HttpsTest, AnIpAddressIsCheckedAgainstTheCertificatesAddresses) {
    TlsIdentity tls = identity("localhost");
    ScriptPeer peer({answer_all_tls(reply("HTTP/1.1 200 OK", "", "0"))}, &tls);
    HttpClient client(trusting_test_ca());
    EXPECT_EQ(client.get(peer.base("127.0.0.1") + "/"), "0");
}

TEST_F(HttpsTest, CertificateOfAnUnknownIssuerIsRefused) {
    TlsIdentity tls = identity("localhost");
    ScriptPeer peer({answer_all_tls(reply("HTTP/1.1 200 OK", "", "0"))}, &tls);
    HttpClient client;  // the system's trust store does not know the test CA
    try {
        client.get(peer.base("localhost") + "/");
        FAIL() << "no error";
    } catch (const TransportError& e) {
        EXPECT_NE(std::string(e.what()).find("not accepted"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(client.has_connection());
    EXPECT_EQ(peer.received().at(0), "") << "no request bytes went out";
}

TEST_F(HttpsTest, CertificateForAnotherNameIsRefusedEvenFromTheTrustedCa) {
    TlsIdentity tls = identity("other");
    ScriptPeer peer({answer_all_tls(reply("HTTP/1.1 200 OK", "", "0"))}, &tls);
    HttpClient client(trusting_test_ca());
    try {
        client.get(peer.base("localhost") + "/");
        FAIL() << "no error";
    } catch (const TransportError& e) {
        EXPECT_NE(std::string(e.what()).find("not accepted"), std::string::npos) << e.what();
    }
}

TEST_F(HttpsTest, PlainHttpPeerFailsTheHandshake) {
    ScriptPeer peer({[](PeerConn& c) {
        c.wait_closed(std::chrono::milliseconds(200));  // takes the client's hello
        c.send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    }});
    HttpClient client(trusting_test_ca());
    std::string address = peer.base("localhost");
    address.replace(0, 4, "https");
    EXPECT_THROW(client.get(address + "/"), TransportError);
}

TEST_F(HttpsTest, LivePublishingSendsItsBatchesWithCredentialsOverAKeptConnection) {
    TlsIdentity tls = identity("localhost");
    const std::string conflict = R"({"outcome":"conflict","stream":"x","sequence":3})";
    ScriptPeer peer({answer_all_tls("HTTP/1.1 409 Conflict\r\nContent-Type: application/json\r\nContent-Length: " +
                                std::to_string(conflict.size()) + "\r\n\r\n" + conflict)},
                    &tls);
    LiveHttp::Options options;
    options.tls.ca_file = dir_ / "ca.pem";
    LiveHttp client(options);
    const Address address = parse_address(peer.base("localhost") + "/api/v1/accounts/club1/changes");
    const std::string small = "{}", large(20000, 'x');
    for (const std::string* body : {&small, &large}) {
        const LiveReply r = client.send("POST", address, basic_authorization("club1", "p\xe4ss"), *body);
        EXPECT_EQ(r.status, 409);  // an answer, not an error
        EXPECT_EQ(r.body, conflict);
    }
    EXPECT_EQ(peer.connections(), 1);
    const std::string first = peer.received().at(0);
    EXPECT_NE(first.find("POST /api/v1/accounts/club1/changes HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(first.find("\r\nAuthorization: Basic Y2x1YjE6cORzcw==\r\n"), std::string::npos);  // Windows-1252 bytes
    EXPECT_NE(first.find("\r\nContent-Length: 2\r\n\r\n{}"), std::string::npos);
    EXPECT_NE(first.find("\r\nContent-Encoding: gzip\r\n"), std::string::npos);  // the large body only
    EXPECT_EQ(first.find("Content-Encoding"), first.rfind("Content-Encoding"));
}

TEST(LiveAddress, ThePasswordGoesOverPlainHttpOnlyToThisComputerUnlessAllowed) {
    const struct {
        const char* address;
        bool insecure, allowed;
    } cases[] = {
        {"https://results.example.org/", false, true},   {"http://localhost:8081/", false, true},
        {"http://127.0.0.1/", false, true},              {"http://[::1]:8081/", false, true},
        {"http://results.example.org/", false, false},   {"http://results.example.org/", true, true},
        {"http://127.0.0.1.example.org/", false, false},
    };
    for (const auto& c : cases) {
        const Address a = parse_address(c.address);
        if (c.allowed)
            EXPECT_NO_THROW(check_live_address(a, c.insecure)) << c.address;
        else
            EXPECT_THROW(check_live_address(a, c.insecure), LiveError) << c.address;
    }
}

}  // namespace
}  // namespace ringolan::upload
