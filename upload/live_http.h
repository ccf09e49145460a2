// The HTTP client of live publishing: HTTP/1.1 requests with Basic credentials and a JSON body
// (gzip-compressed when large) over one kept connection, plain or TLS. Unlike HttpClient it
// returns every status with its body, since a conflict (409) is an answer, not a failure.
// One request at a time from one thread; cancel may come from another.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "upload/http_address.h"
#include "upload/http_transport.h"

namespace ringolan::upload {

struct LiveReply {
    int status = -1;
    std::string body;
};

// "Basic " + base64 of user ":" password, bytes as given.
std::string basic_authorization(std::string_view user, std::string_view password);

class LiveHttp {
public:
    struct Options {
        std::chrono::milliseconds connect_timeout{15000};
        std::chrono::milliseconds io_timeout{60000};  // each send and each wait for reply bytes
        TlsSettings tls;
    };

    LiveHttp();
    explicit LiveHttp(Options options);

    // Sends the request and reads its reply. A kept connection that turns out closed before the
    // reply began is replaced once. Throws TransportError (CancelledError), ReplyFormatError.
    LiveReply send(std::string_view method, const Address& address, const std::string& authorization,
                   std::string_view json_body = {});

    void cancel() { transport_.cancel(); }
    void resume() { transport_.resume(); }
    void close() { transport_.close(); }

private:
    // False when the kept connection was found closed before any reply byte.
    bool exchange(const std::string& request, const Address& address, bool reused, LiveReply& reply);

    Options options_;
    Transport transport_;
    Address connected_;
};

}  // namespace ringolan::upload
