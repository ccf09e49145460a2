#include "server/http_response.h"

#include <exception>

namespace ringolan::server {

std::string_view reason_text(int status_code) {
    switch (status_code) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 408: return "Request Timeout";
    case 413: return "Request Entity Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Unknown Response Code";
    }
}

void Response::set_status(int code) {
    status_code = code;
    reason = std::string(reason_text(code));
}

Response run_handler(const Request& request, const Handler& handler) {
    Response response;
    try {
        handler(request, response);
    } catch (const std::exception& e) {
        response.set_status(500);
        response.content = e.what();
        response.shared_content.reset();
        response.body_file.reset();
        response.file.clear();
        response.content_length = -1;  // a length the handler set belongs to its own body, not the message
    } catch (...) {
        response.set_status(500);
        response.content = "Unknown error.";
        response.shared_content.reset();
        response.body_file.reset();
        response.file.clear();
        response.content_length = -1;
    }
    return response;
}

std::string serialize_head(const Response& r) {
    int64_t length = r.content_length;
    if (length < 0 && !r.body().empty()) length = int64_t(r.body().size());

    std::string out = "HTTP/1.1 " + std::to_string(r.status_code) + " " + r.reason + "\r\n";
    out += "Connection: close\r\n";
    if (!r.content_type.empty()) out += "Content-Type: " + r.content_type + "\r\n";
    if (length >= 0) out += "Content-Length: " + std::to_string(length) + "\r\n";
    if (!r.server_name.empty()) out += "Server: " + r.server_name + "\r\n";
    out += r.extra_headers;
    out += "\r\n";
    return out;
}

std::string serialize(const Response& r) {
    std::string out = serialize_head(r);
    out.append(r.body());
    return out;
}

}  // namespace ringolan::server
