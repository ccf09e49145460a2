#include "server/http_server.h"

#include <asio.hpp>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "platform/send_file.h"
#include "platform/thread_priority.h"

namespace ringolan::server {

namespace {

using asio::ip::tcp;

class Connection;

}  // namespace

struct HttpServer::Core {
    Handler handler;
    ConnectObserver on_connect;
    QuickHandler quick;
    ServerOptions options;

    std::mutex mutex;
    std::condition_variable changed;
    std::size_t active = 0;           // open connections
    std::atomic<std::size_t> large_buffers{0};  // connections holding a large send buffer
    std::size_t threads_running = 0;  // I/O and worker threads not yet ended
    bool stopping = false;
    std::list<std::weak_ptr<Connection>> connections;
    std::vector<std::size_t> paused;  // acceptors waiting for a free connection slot

    asio::io_context io;
    asio::io_context workers;
    std::vector<tcp::acceptor> acceptors;
    std::vector<Binding> bound;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> io_guard;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> worker_guard;
    std::vector<std::thread> threads;

    void accept_next(std::size_t index);
    // Ends a connection's registration; counted: it still counts against max_connections.
    void release(std::list<std::weak_ptr<Connection>>::iterator slot, bool counted);
    // A connection turned into an event stream no longer counts against max_connections.
    void leave_count();
};

namespace {

// The sender of a connection that stays open; holds the connection weakly.
class ConnectionSender : public StreamSender {
public:
    explicit ConnectionSender(std::weak_ptr<Connection> connection) : connection_(std::move(connection)) {}
    bool send(std::shared_ptr<const std::string> bytes) override;
    bool is_open() const override { return !ended_; }
    void close() override;
    void mark_ended() { ended_ = true; }

private:
    std::weak_ptr<Connection> connection_;
    std::atomic<bool> ended_{false};
};

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(HttpServer::Core& core, tcp::socket socket)
        : core_(core), socket_(std::move(socket)), timer_(socket_.get_executor()),
          parser_(core.options.max_body_bytes) {}
    ~Connection() {
        if (registered_) core_.release(slot_, !streaming_);
    }

    void set_slot(std::list<std::weak_ptr<Connection>>::iterator slot) {
        slot_ = slot;
        registered_ = true;
    }
    tcp::socket::executor_type executor() { return socket_.get_executor(); }

    void begin() {
        if (core_.on_connect) {
            try {
                core_.on_connect();
            } catch (...) {
                // An observer only shows activity; its failure must not cost the client its answer.
            }
        }
        asio::error_code ec;
        auto remote = socket_.remote_endpoint(ec);
        if (!ec) remote_address_ = remote.address().to_string();
        arm_timer(core_.options.header_timeout);
        read();
    }

    // Ends the connection from any thread.
    void disconnect() {
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->close(); });
    }

    // Queues bytes of an event stream from any thread.
    void post_stream(std::shared_ptr<const std::string> bytes) {
        asio::post(socket_.get_executor(),
                   [self = shared_from_this(), bytes = std::move(bytes)]() mutable { self->queue_stream(std::move(bytes)); });
    }

private:
    void arm_timer(std::chrono::milliseconds limit) {
        timer_.expires_after(limit);
        timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (!ec) self->close();
        });
    }

    void read() {
        socket_.async_read_some(asio::buffer(buffer_), [self = shared_from_this()](
                                                           const asio::error_code& ec, std::size_t n) {
            self->on_read(ec, n);
        });
    }

    void on_read(const asio::error_code& ec, std::size_t n) {
        if (closed_) return;
        ParseStatus status;
        if (ec == asio::error::eof) {
            status = parser_.end_of_input();
        } else if (ec) {
            return close();
        } else {
            std::string_view bytes(buffer_.data(), n);
            watch_header_end(bytes);
            status = parser_.feed(bytes);
        }
        switch (status) {
            case ParseStatus::need_more:
                if (ec) return close();
                return read();
            case ParseStatus::reject:
            case ParseStatus::body_too_large:  // closed without an answer, like other refusals
                return close();
            case ParseStatus::complete:
                timer_.cancel();
                return dispatch();
        }
    }

    // Switches to the body time limit at the empty line that ends the headers.
    void watch_header_end(std::string_view bytes) {
        if (in_body_) return;
        for (char c : bytes) {
            if (c == '\n') {
                if (line_length_ == 0 && lines_ > 0) {
                    in_body_ = true;
                    arm_timer(core_.options.body_timeout);
                    return;
                }
                ++lines_;
                line_length_ = 0;
            } else if (c != '\r') {
                ++line_length_;
            }
        }
    }

    void dispatch() {
        request_ = parser_.take_request();
        request_.remote_address = remote_address_;
        if (core_.quick) {
            Response response;
            bool answered = false;
            try {
                answered = core_.quick(request_, response);
            } catch (...) {
                answered = false;  // the worker pool answers it, with the handler's own errors
            }
            if (answered) return write(std::move(response));
        }
        asio::post(core_.workers, [self = shared_from_this()] {
            Response response = run_handler(self->request_, self->core_.handler);
            asio::post(self->socket_.get_executor(), [self, response = std::move(response)]() mutable {
                self->write(std::move(response));
            });
        });
    }

    // The head and the body go out in one gathered write; a shared body (a cached page) is sent
    // from the cache's own bytes, which the response keeps alive until the write ends. A body
    // with a file (a long cached page) follows the head by platform::send_file.
    void write(Response response) {
        if (closed_) return;
        head_ = serialize_head(response);
        response_ = std::move(response);
        std::string_view body = response_.body();
        if (!response_.file.empty()) {  // the file replaces the content
            body = {};
            file_.open(response_.file, std::ios::binary);
        } else if (response_.body_file && response_.body_file->size() == body.size()) {
            body = {};
            asio::error_code ec;
            socket_.native_non_blocking(true, ec);  // send_file must not block an I/O thread
            if (ec) {
                response_.body_file.reset();
                body = response_.body();
            }
        } else {
            response_.body_file.reset();
        }
        const std::size_t body_size = response_.body_file ? response_.body_file->size() : body.size();
        if (body_size > core_.options.send_buffer_bytes) enlarge_send_buffer(body_size);
        std::array<asio::const_buffer, 2> buffers{asio::buffer(head_), asio::buffer(body.data(), body.size())};
        arm_timer(core_.options.body_timeout);  // a client that stops reading is cut off too
        asio::async_write(socket_, buffers, [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
            if (ec) return self->close();
            if (self->response_.on_stream) return self->become_stream();
            if (self->response_.body_file) return self->send_body_file();
            self->send_file_chunk();
        });
    }

    // The answer stays open: the page connection's place is freed, the client's side is read
    // only to see it go, and the answer's owner gets the sender.
    void become_stream() {
        if (closed_) return;
        timer_.cancel();
        streaming_ = true;
        core_.leave_count();
        if (core_.options.stream_send_buffer_bytes > 0) {
            asio::error_code ignored;
            socket_.set_option(tcp::socket::send_buffer_size(int(core_.options.stream_send_buffer_bytes)), ignored);
        }
        sender_ = std::make_shared<ConnectionSender>(weak_from_this());
        std::vector<char>(256).swap(buffer_);  // thousands of event clients hold little memory
        read_until_close();
        const auto start = std::move(response_.on_stream);
        response_.on_stream = nullptr;
        try {
            start(sender_);
        } catch (...) {
            close();
        }
    }

    void read_until_close() {
        socket_.async_read_some(asio::buffer(buffer_), [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
            if (ec || self->closed_) return self->close();
            self->read_until_close();  // whatever the client sends is ignored
        });
    }

    void queue_stream(std::shared_ptr<const std::string> bytes) {
        if (closed_ || !bytes || bytes->empty()) return;
        if (queued_bytes_ + bytes->size() > core_.options.stream_queue_bytes) return close();  // stopped reading
        queued_bytes_ += bytes->size();
        stream_queue_.push_back(std::move(bytes));
        if (!stream_writing_) write_stream();
    }

    void write_stream() {
        stream_writing_ = true;
        arm_timer(core_.options.body_timeout);  // a write that cannot finish ends the client
        asio::async_write(socket_, asio::buffer(*stream_queue_.front()),
                          [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                              if (ec || self->closed_) return self->close();
                              self->queued_bytes_ -= self->stream_queue_.front()->size();
                              self->stream_queue_.pop_front();
                              if (!self->stream_queue_.empty()) return self->write_stream();
                              self->stream_writing_ = false;
                              self->timer_.cancel();
                          });
    }

    // Sends the body's file from body_sent_ on, waiting whenever the socket's buffer is full.
    void send_body_file() {
        if (closed_) return;
        const BodyFile& file = *response_.body_file;
        while (body_sent_ < file.size()) {
            const platform::SendResult r = platform::send_file(platform::NativeHandle(socket_.native_handle()),
                                                               file.handle(), body_sent_, file.size() - body_sent_);
            if (r.status == platform::SendResult::Status::sent) {
                body_sent_ += r.bytes;
                continue;
            }
            if (r.status == platform::SendResult::Status::would_block) {
                arm_timer(core_.options.body_timeout);
                socket_.async_wait(tcp::socket::wait_write, [self = shared_from_this()](const asio::error_code& ec) {
                    if (ec) return self->close();
                    self->send_body_file();
                });
                return;
            }
            return close();  // the client went away
        }
        finish();
    }

    // A large body goes out in few writes when one of the bounded large buffers is free.
    void enlarge_send_buffer(std::size_t body_size) {
        const ServerOptions& o = core_.options;
        if (o.send_buffer_bytes == 0 || o.large_send_buffer_bytes <= o.send_buffer_bytes) return;
        if (core_.large_buffers.fetch_add(1) >= o.large_send_buffers) {
            --core_.large_buffers;
            return;
        }
        holds_large_buffer_ = true;
        asio::error_code ignored;  // a refused size leaves the small buffer
        socket_.set_option(tcp::socket::send_buffer_size(int(std::min(body_size, o.large_send_buffer_bytes))), ignored);
    }

    void send_file_chunk() {
        if (closed_) return;
        if (!file_.is_open()) return finish();
        file_.read(buffer_.data(), buffer_.size());
        std::size_t n = static_cast<std::size_t>(file_.gcount());
        if (n == 0) return finish();
        arm_timer(core_.options.body_timeout);
        asio::async_write(socket_, asio::buffer(buffer_.data(), n),
                          [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                              if (ec) return self->close();
                              self->send_file_chunk();
                          });
    }

    void finish() {
        asio::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        close();
    }

    void close() {
        if (closed_) return;
        closed_ = true;
        if (sender_) sender_->mark_ended();
        stream_queue_.clear();
        if (holds_large_buffer_) --core_.large_buffers;
        asio::error_code ignored;
        timer_.cancel();
        socket_.close(ignored);
        file_.close();
    }

    HttpServer::Core& core_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    std::list<std::weak_ptr<Connection>>::iterator slot_;
    RequestParser parser_;
    Request request_;
    std::string remote_address_;
    std::vector<char> buffer_ = std::vector<char>(16384);  // reading and sending files; small once streaming
    std::string head_;
    Response response_;  // what is being written
    std::ifstream file_;
    std::size_t body_sent_ = 0;  // bytes of response_.body_file sent
    bool closed_ = false;
    bool holds_large_buffer_ = false;
    bool registered_ = false;
    bool in_body_ = false;
    std::size_t lines_ = 0;
    std::size_t line_length_ = 0;
    // An answer that stayed open (event stream).
    bool streaming_ = false;
    std::shared_ptr<ConnectionSender> sender_;
    std::deque<std::shared_ptr<const std::string>> stream_queue_;
    std::size_t queued_bytes_ = 0;
    bool stream_writing_ = false;
};

bool ConnectionSender::send(std::shared_ptr<const std::string> bytes) {
    if (ended_) return false;
    const auto connection = connection_.lock();
    if (!connection) return false;
    connection->post_stream(std::move(bytes));
    return true;
}

void ConnectionSender::close() {
    if (const auto connection = connection_.lock()) connection->disconnect();
}

}  // namespace

void HttpServer::Core::accept_next(std::size_t index) {
    {
        std::lock_guard lock(mutex);
        if (stopping) return;
        if (active >= options.max_connections) {
            paused.push_back(index);  // the kernel backlog holds further clients meanwhile
            return;
        }
    }
    acceptors[index].async_accept(asio::make_strand(io), [this, index](const asio::error_code& ec,
                                                                       tcp::socket socket) {
        if (ec == asio::error::operation_aborted) return;
        if (!ec) {
            if (options.send_buffer_bytes > 0) {
                asio::error_code ignored;  // a refused size leaves the system's default
                socket.set_option(tcp::socket::send_buffer_size(int(options.send_buffer_bytes)), ignored);
            }
            try {
                auto connection = std::make_shared<Connection>(*this, std::move(socket));
                bool refused = false;
                {
                    std::lock_guard lock(mutex);
                    refused = stopping;
                    if (!refused) {
                        ++active;
                        connections.push_front(connection);
                        connection->set_slot(connections.begin());
                    }
                }
                if (refused) return;
                asio::post(connection->executor(), [connection] { connection->begin(); });
            } catch (...) {
                // Out of memory for one connection: it is dropped (its socket closes), the others go on.
            }
        }
        accept_next(index);
    });
}

void HttpServer::Core::release(std::list<std::weak_ptr<Connection>>::iterator slot, bool counted) {
    std::vector<std::size_t> resume;
    {
        std::lock_guard lock(mutex);
        connections.erase(slot);
        if (counted) --active;
        if (!stopping) resume.swap(paused);
        changed.notify_all();
    }
    for (std::size_t index : resume) asio::post(io, [this, index] { accept_next(index); });
}

void HttpServer::Core::leave_count() {
    std::vector<std::size_t> resume;
    {
        std::lock_guard lock(mutex);
        --active;
        if (!stopping) resume.swap(paused);
        changed.notify_all();
    }
    for (std::size_t index : resume) asio::post(io, [this, index] { accept_next(index); });
}

namespace {

void run_thread(const std::shared_ptr<HttpServer::Core>& core, asio::io_context& context, int nice) {
    platform::lower_thread_priority(nice);
    // send_file to a client that has gone would raise a signal that ends the process; blocked in
    // the server's threads, the call fails instead and the connection is closed.
    platform::block_broken_pipe_signal();
    for (;;) {
        try {
            context.run();
            break;
        } catch (...) {  // nothing thrown inside a completion handler ends the thread
        }
    }
    std::lock_guard lock(core->mutex);
    --core->threads_running;
    core->changed.notify_all();
}

tcp::endpoint endpoint_for(const Binding& binding) {
    if (binding.address.empty()) return {asio::ip::address_v4::any(), binding.port};
    asio::error_code ec;
    auto address = asio::ip::make_address(binding.address, ec);
    if (ec) throw std::runtime_error("Invalid address \"" + binding.address + "\": " + ec.message());
    return {address, binding.port};
}

}  // namespace

HttpServer::HttpServer(Handler handler, ConnectObserver on_connect, ServerOptions options)
    : handler_(std::move(handler)), on_connect_(std::move(on_connect)), options_(options) {}

HttpServer::~HttpServer() {
    try {
        stop();
    } catch (...) {
        // "Terminate Thread Timeout": the remaining threads own the core and end by themselves.
    }
}

bool HttpServer::is_running() const { return core_ != nullptr; }

std::vector<Binding> HttpServer::endpoints() const { return core_ ? core_->bound : std::vector<Binding>{}; }

void HttpServer::start(std::vector<Binding> bindings) {
    if (core_) throw std::runtime_error("The server is already running.");
    if (bindings.empty()) bindings.push_back({"", 80});
    auto core = std::make_shared<Core>();
    core->handler = handler_;
    core->on_connect = on_connect_;
    core->quick = quick_;
    core->options = options_;
    if (core->options.max_connections == 0) core->options.max_connections = 1;
    for (const Binding& binding : bindings) {
        tcp::endpoint endpoint = endpoint_for(binding);
        tcp::acceptor acceptor(core->io);
        asio::error_code ec;
        acceptor.open(endpoint.protocol(), ec);
        if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) acceptor.bind(endpoint, ec);
        if (!ec) acceptor.listen(core->options.listen_backlog, ec);
        if (ec) {
            // the acceptors bound so far close with core
            throw std::runtime_error("Cannot listen on " + endpoint.address().to_string() + ":" +
                                     std::to_string(binding.port) + ": " + ec.message());
        }
        tcp::endpoint local = acceptor.local_endpoint(ec);
        core->bound.push_back({local.address().to_string(), local.port()});
        core->acceptors.push_back(std::move(acceptor));
    }
    core->io_guard.emplace(core->io.get_executor());
    core->worker_guard.emplace(core->workers.get_executor());
    for (std::size_t i = 0; i < core->acceptors.size(); ++i) core->accept_next(i);
    unsigned io_threads = std::max(1u, options_.io_threads);
    unsigned worker_threads = std::max(1u, options_.worker_threads);
    core->threads_running = io_threads + worker_threads;
    for (unsigned i = 0; i < io_threads; ++i)
        core->threads.emplace_back([core] { run_thread(core, core->io, core->options.io_nice); });
    for (unsigned i = 0; i < worker_threads; ++i)
        core->threads.emplace_back([core] { run_thread(core, core->workers, core->options.worker_nice); });
    core_ = std::move(core);
}

void HttpServer::stop() {
    if (!core_) return;
    std::shared_ptr<Core> core = std::move(core_);
    auto deadline = std::chrono::steady_clock::now() + core->options.stop_wait;
    std::vector<std::shared_ptr<Connection>> open;
    {
        std::lock_guard lock(core->mutex);
        core->stopping = true;
        core->paused.clear();
        for (auto& weak : core->connections)
            if (auto connection = weak.lock()) open.push_back(std::move(connection));
    }
    asio::post(core->io, [raw = core.get()] {  // a shared_ptr here would keep core alive from its own queue
        for (auto& acceptor : raw->acceptors) {
            asio::error_code ignored;
            acceptor.close(ignored);
        }
    });
    for (auto& connection : open) connection->disconnect();
    open.clear();

    std::unique_lock lock(core->mutex);
    // Every connection, event streams included (they do not count in active), must be gone before
    // the I/O context stops: one destroyed with the core's queue would release its slot into it.
    core->changed.wait_until(lock, deadline, [&] { return core->connections.empty(); });
    lock.unlock();
    core->io_guard.reset();
    core->worker_guard.reset();
    core->io.stop();
    core->workers.stop();
    lock.lock();
    bool ended = core->changed.wait_until(lock, deadline, [&] { return core->threads_running == 0; });
    lock.unlock();
    if (!ended) {
        // The threads keep core alive until they end.
        for (auto& thread : core->threads) thread.detach();
        throw std::runtime_error("Terminate Thread Timeout");
    }
    for (auto& thread : core->threads) thread.join();
    core->threads.clear();
    for (auto& acceptor : core->acceptors) {
        asio::error_code ignored;
        acceptor.close(ignored);
    }
}

}  // namespace ringolan::server
