// Response record of the page server and its serialization into an HTTP/1.1 answer.
#pragma once

#include "server/body_file.h"
#include "server/http_request.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ringolan::server {

// Reason text for a status code ("OK", "Not Found", "Internal Server Error", ...).
std::string_view reason_text(int status_code);

// The open end of an answer that stays open after its head (server-sent events). Bytes sent
// through it follow the head in order. Usable from any thread, also after the connection ended.
class StreamSender {
public:
    virtual ~StreamSender() = default;
    // Queues bytes to send; false once the connection has ended. A connection whose queue would
    // pass its bound (a client that stopped reading) is ended instead.
    virtual bool send(std::shared_ptr<const std::string> bytes) = 0;
    virtual bool is_open() const = 0;
    virtual void close() = 0;
};

struct Response {
    int status_code = 200;
    std::string reason = "OK";
    std::string content;                   // the body, sent unchanged
    // A body shared with the page cache, sent in place of content when set; never copied.
    std::shared_ptr<const std::string> shared_content;
    // The same bytes as shared_content in a file, sent with sendfile when set.
    std::shared_ptr<const BodyFile> body_file;
    std::string content_type = "text/html";  // header omitted when empty
    int64_t content_length = -1;           // -1: not set
    std::filesystem::path file;            // sent after the head instead of content; empty: none
    std::string server_name = "Indy/9.0.14";
    std::string extra_headers;             // complete header lines ("Name: value\r\n"), after the others
    // Set: the connection stays open after the head and the body, no longer counts against the
    // page connections, and this is called once with its sender when the head has gone out.
    std::function<void(std::shared_ptr<StreamSender>)> on_stream;

    // The body to send: shared_content when set, else content.
    std::string_view body() const { return shared_content ? std::string_view(*shared_content) : content; }
    // Sets the status code together with its reason text.
    void set_status(int code);
};

using Handler = std::function<void(const Request&, Response&)>;

// Runs the handler on a preset response. A failure becomes status 500 with the failure's
// message as content; the content type stays as the handler left it.
Response run_handler(const Request& request, const Handler& handler);

// Status line, header lines and the empty line. An unset content length becomes the
// body's byte length when the body is non-empty.
std::string serialize_head(const Response& response);

// The head followed by the body (a file to send is not read here).
std::string serialize(const Response& response);

}  // namespace ringolan::server
