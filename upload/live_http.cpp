#include "upload/live_http.h"

#include <array>
#include <sstream>

#include "common/ascii.h"
#include "upload/gzip_file.h"
#include "upload/http_reply.h"

namespace ringolan::upload {

namespace {

// Bodies from this size on are sent gzip-compressed.
constexpr std::size_t kCompressFrom = 4096;

std::string base64(std::string_view bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16 |
                           unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out += alphabet[(v >> shift) & 63];
    }
    if (i < bytes.size()) {
        unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// One gzip member, deflated in pieces side by side when the body is large (a stream's first batch).
std::string gzip(std::string_view data) {
    try {
        return gzip_bytes(data);
    } catch (const std::exception&) {
        throw TransportError("the request could not be compressed");
    }
}

std::string request_text(std::string_view method, const Address& address, const std::string& authorization,
                         std::string_view body) {
    std::string head;
    head.append(method).append(" ").append(address.target).append(" HTTP/1.1\r\n");
    head.append("Host: ").append(address.host_header()).append("\r\n");
    head.append("User-Agent: ringolan-upload\r\n");
    head.append("Accept: application/json\r\n");
    head.append("Authorization: ").append(authorization).append("\r\n");
    std::string packed;
    if (method == "POST") {
        head.append("Content-Type: application/json\r\n");
        if (body.size() >= kCompressFrom) {
            packed = gzip(body);
            body = packed;
            head.append("Content-Encoding: gzip\r\n");
        }
        head.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    }
    head.append("\r\n");
    head.append(body);
    return head;
}

}  // namespace

std::string basic_authorization(std::string_view user, std::string_view password) {
    std::string pair(user);
    pair += ':';
    pair += password;
    return "Basic " + base64(pair);
}

LiveHttp::LiveHttp() : LiveHttp(Options{}) {}
LiveHttp::LiveHttp(Options options) : options_(std::move(options)) {}

LiveReply LiveHttp::send(std::string_view method, const Address& address, const std::string& authorization,
                         std::string_view json_body) {
    const std::string request = request_text(method, address, authorization, json_body);
    if (transport_.is_open() && !connected_.same_origin(address)) transport_.close();
    LiveReply reply;
    try {
        if (!exchange(request, address, transport_.is_open(), reply)) {
            transport_.close();
            exchange(request, address, false, reply);
        }
    } catch (...) {
        transport_.close();
        throw;
    }
    return reply;
}

bool LiveHttp::exchange(const std::string& request, const Address& address, bool reused, LiveReply& reply) {
    if (!reused) {
        transport_.connect(address, options_.tls, options_.connect_timeout);
        connected_ = address;
    }
    try {
        transport_.write(request, options_.io_timeout);
    } catch (const TransportError& e) {
        if (reused && !dynamic_cast<const CancelledError*>(&e)) return false;
        throw;
    }
    ReplyParser parser;
    std::array<char, 16 * 1024> buffer;
    bool extra = false;
    while (!parser.done()) {
        std::size_t n = 0;
        try {
            n = transport_.read_some(buffer.data(), buffer.size(), options_.io_timeout);
        } catch (const TransportError& e) {
            if (reused && !parser.started() && !dynamic_cast<const CancelledError*>(&e) &&
                !dynamic_cast<const TimeoutError*>(&e))
                return false;
            throw;
        }
        if (n == 0) {
            if (reused && !parser.started()) return false;
            parser.finish();
            break;
        }
        extra = parser.feed(std::string_view(buffer.data(), n)) < n;
        reply.body += parser.take_body();
    }
    reply.body += parser.take_body();
    reply.status = parser.head().status;
    const auto connection = parser.head().find("Connection");
    if (extra || parser.until_close() || (connection && text::ascii_lower(*connection) == "close"))
        transport_.close();
    return true;
}

}  // namespace ringolan::upload
