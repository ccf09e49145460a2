// The page server's socket layer: listeners, connections with read time limits, a connection
// cap, and a worker pool that runs the request handler away from the I/O threads (a quick
// handler may answer on the I/O thread first, see set_quick_handler).
// One request per connection. Refused requests (unparsable, other methods, a body over
// ServerOptions::max_body_bytes, a read time limit passed) are closed without sending a byte.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/http_request.h"
#include "server/http_response.h"
#include "server/limits.h"

namespace ringolan::server {

struct Binding {
    std::string address;  // an IPv4 or IPv6 address; empty or "0.0.0.0" for all addresses
    uint16_t port = 80;   // 0 picks a free port (see HttpServer::ports)
};

struct ServerOptions {
    std::chrono::milliseconds header_timeout = kHeaderReadTimeout;
    std::chrono::milliseconds body_timeout = kBodyReadTimeout;  // also bounds each write of the answer
    std::size_t max_connections = kMaxConnections;
    unsigned worker_threads = kWorkerThreads;
    unsigned io_threads = 2;
    int listen_backlog = kListenBacklog;
    std::chrono::milliseconds stop_wait = kStopWait;
    std::size_t max_body_bytes = kMaxBodyBytes;  // larger bodies are refused
    std::size_t send_buffer_bytes = kSendBufferBytes;  // per connection; 0 keeps the system's default
    std::size_t large_send_buffer_bytes = kLargeSendBufferBytes;  // for a larger body; 0: never
    std::size_t large_send_buffers = kLargeSendBuffers;           // connections holding one at once
    // Connections whose answer stays open (event streams): send buffer and queued bytes.
    std::size_t stream_send_buffer_bytes = kEventSendBufferBytes;
    std::size_t stream_queue_bytes = kEventQueueBytes;
    int io_nice = kIoThreadNice;          // scheduling priority of the threads, lowered by these steps
    int worker_nice = kWorkerThreadNice;
};

class HttpServer {
public:
    using Handler = std::function<void(const Request&, Response&)>;
    // Called once per accepted connection on an I/O thread before anything is read. It must not
    // block: anything slow has to be posted elsewhere.
    using ConnectObserver = std::function<void()>;
    // Tried on the I/O thread before a request goes to the worker pool: answers it and returns
    // true when that is quick (a page already generated), returns false otherwise. It must not
    // block or throw; a throw counts as false.
    using QuickHandler = std::function<bool(const Request&, Response&)>;

    explicit HttpServer(Handler handler, ConnectObserver on_connect = {}, ServerOptions options = {});
    ~HttpServer();  // stops; a stop failure is swallowed here
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds every binding (an empty list: all addresses, port 80) and starts serving. Either all
    // bindings listen or none: on a failure the others are released and std::runtime_error is
    // thrown with the system's message. Throws when already running.
    void start(std::vector<Binding> bindings);
    // Closes the listeners, disconnects every connection and waits at most options.stop_wait for
    // the threads to end; throws std::runtime_error("Terminate Thread Timeout") when they do not.
    void stop();
    bool is_running() const;
    // Takes effect at the next start().
    void set_quick_handler(QuickHandler quick) { quick_ = std::move(quick); }

    // The bound (address, port) pairs while running, in the order of the bindings.
    std::vector<Binding> endpoints() const;

    struct Core;

private:
    Handler handler_;
    ConnectObserver on_connect_;
    QuickHandler quick_;
    ServerOptions options_;
    std::shared_ptr<Core> core_;
};

}  // namespace ringolan::server
