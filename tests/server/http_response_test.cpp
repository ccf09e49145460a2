#include "server/http_response.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace ringolan::server {
namespace {

TEST(Response, Presets) {
    const Response r;
    EXPECT_EQ(r.status_code, 200);
    EXPECT_EQ(r.reason, "OK");
    EXPECT_EQ(r.content_type, "text/html");
    EXPECT_EQ(r.content_length, -1);
    EXPECT_EQ(r.server_name, "Indy/9.0.14");
    EXPECT_TRUE(r.body().empty());
}

TEST(Response, StatusSetsReasonText) {
    Response r;
    r.set_status(404);
    EXPECT_EQ(r.reason, "Not Found");
    r.set_status(500);
    EXPECT_EQ(r.reason, "Internal Server Error");
    r.set_status(200);
    EXPECT_EQ(r.reason, "OK");
}

TEST(Response, HandlerThatSetsNothing) {
    const Response r = run_handler(Request{}, [](const Request&, Response&) {});
    EXPECT_EQ(serialize(r),
              "HTTP/1.1 200 OK\r\n"
              "Connection: close\r\n"
              "Content-Type: text/html\r\n"
              "Server: Indy/9.0.14\r\n"
              "\r\n");
}

TEST(Response, FailingHandlerGives500WithMessage) {
    const Response r = run_handler(Request{}, [](const Request&, Response& out) {
        out.content = "half a page";
        throw std::runtime_error("Tabelle fehlt");
    });
    EXPECT_EQ(serialize(r),
              "HTTP/1.1 500 Internal Server Error\r\n"
              "Connection: close\r\n"
              "Content-Type: text/html\r\n"
              "Content-Length: 13\r\n"
              "Server: Indy/9.0.14\r\n"
              "\r\n"
              "Tabelle fehlt");

    // The content type stays as the handler left it.
    const Response plain = run_handler(Request{}, [](const Request&, Response& out) {
        out.content_type = "text/plain";
        throw std::runtime_error("x");
    });
    EXPECT_EQ(plain.status_code, 500);
    EXPECT_EQ(plain.content_type, "text/plain");
    EXPECT_EQ(plain.content, "x");

    // A length the handler had set for its own body does not survive into the error answer.
    const Response sized = run_handler(Request{}, [](const Request&, Response& out) {
        out.content_length = 5000;
        throw std::runtime_error("Datei weg");
    });
    EXPECT_NE(serialize(sized).find("Content-Length: 9\r\n"), std::string::npos) << serialize(sized);

    const Response odd = run_handler(Request{}, [](const Request&, Response&) { throw 42; });
    EXPECT_EQ(odd.status_code, 500);
    EXPECT_FALSE(odd.content.empty());
}

TEST(Response, HandlerSeesTheRequest) {
    Request req;
    req.query = "NR=12";
    const Response r = run_handler(req, [](const Request& in, Response& out) { out.content = in.query; });
    EXPECT_EQ(r.content, "NR=12");
}

TEST(Response, GeneratedPageAnswer) {
    Response r;
    r.content = "<html>\r\n\xC4</html>";  // 8-bit bytes and a NUL, counted as bytes
    r.content.push_back('\0');
    EXPECT_EQ(serialize(r),
              std::string("HTTP/1.1 200 OK\r\n"
                          "Connection: close\r\n"
                          "Content-Type: text/html\r\n"
                          "Content-Length: 17\r\n"
                          "Server: Indy/9.0.14\r\n"
                          "\r\n") +
                  r.content);
    EXPECT_EQ(r.content.size(), 17u);
}

TEST(Response, HeaderRules) {
    // A length the handler set wins, even without content (HEAD of a file).
    Response head;
    head.content_length = 5120;
    head.content_type = "image/jpeg";
    EXPECT_EQ(serialize_head(head),
              "HTTP/1.1 200 OK\r\n"
              "Connection: close\r\n"
              "Content-Type: image/jpeg\r\n"
              "Content-Length: 5120\r\n"
              "Server: Indy/9.0.14\r\n"
              "\r\n");

    // Empty content type and server name are left out; a body on HEAD is not suppressed.
    Response bare;
    bare.set_status(404);
    bare.content_type.clear();
    bare.server_name.clear();
    bare.content = "nicht da";
    EXPECT_EQ(serialize(bare),
              "HTTP/1.1 404 Not Found\r\n"
              "Connection: close\r\n"
              "Content-Length: 8\r\n"
              "\r\n"
              "nicht da");

    // serialize is the head followed by the content unchanged; a shared body replaces the content.
    Response any;
    any.content = "abc\n";
    EXPECT_EQ(serialize(any), serialize_head(any) + "abc\n");
    any.shared_content = std::make_shared<const std::string>("shared body");
    EXPECT_EQ(serialize(any), "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n"
                              "Content-Length: 11\r\nServer: Indy/9.0.14\r\n\r\nshared body");
}

}  // namespace
}  // namespace ringolan::server
