// Answers that stay open (server-sent events): the socket layer's streams and the event hub.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "db/snapshot/snapshot_build.h"
#include "server/event_hub.h"
#include "server/http_server.h"
#include "server/page_service.h"
#include "tests/pages/page_fixture.h"
#include "tests/support/stream_client.h"

using namespace ringolan::server;
using namespace std::chrono_literals;

namespace {

using Client = ringolan::test_support::StreamClient;

// Keeps the senders of the streams the server opened.
struct Streams {
    std::mutex mutex;
    std::vector<std::shared_ptr<StreamSender>> senders;
    std::promise<void> first;

    HttpServer::Handler handler() {
        return [this](const Request& request, Response& response) {
            if (request.document_path != "/stream") {
                response.content = "page";
                return;
            }
            response.content_type = "text/event-stream";
            response.on_stream = [this](std::shared_ptr<StreamSender> sender) {
                std::lock_guard lock(mutex);
                senders.push_back(std::move(sender));
                if (senders.size() == 1) first.set_value();
            };
        };
    }
};

ServerOptions options_with_one_page_connection() {
    ServerOptions options;
    options.max_connections = 1;
    options.header_timeout = 1000ms;
    options.body_timeout = 1000ms;
    options.stop_wait = 3000ms;
    return options;
}

TEST(HttpServerStreams, StreamFollowsItsHeadAndLeavesThePageConnectionsFree) {
    Streams streams;
    HttpServer server(streams.handler(), {}, options_with_one_page_connection());
    server.start({{"127.0.0.1", 0}});
    const uint16_t port = server.endpoints().at(0).port;

    Client listener(port);
    listener.send("GET /stream HTTP/1.1\r\n\r\n");
    ASSERT_EQ(streams.first.get_future().wait_for(3s), std::future_status::ready);
    const std::string head = listener.read_until("\r\n\r\n");
    EXPECT_EQ(head.find("Content-Length"), std::string::npos);  // the body runs until the end

    // With one page connection allowed, pages are still answered while the stream is open.
    for (int i = 0; i < 3; ++i) {
        Client page(port);
        page.send("GET /p HTTP/1.1\r\n\r\n");
        EXPECT_NE(page.read_until("page").find("page"), std::string::npos) << "page " << i;
    }

    const auto sender = streams.senders.at(0);
    EXPECT_TRUE(sender->send(std::make_shared<const std::string>("data: 1\n\n")));
    EXPECT_TRUE(sender->send(std::make_shared<const std::string>("data: 2\n\n")));
    EXPECT_TRUE(listener.read_until("data: 2\n\n").ends_with("\r\n\r\ndata: 1\n\ndata: 2\n\n"));
    sender->close();
    listener.read_until("never");
    EXPECT_TRUE(listener.closed());
    for (int i = 0; i < 50 && sender->is_open(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(sender->is_open());
    EXPECT_FALSE(sender->send(std::make_shared<const std::string>("late")));
}

TEST(HttpServerStreams, ClientThatStopsReadingIsDroppedAndOthersKeepReceiving) {
    std::signal(SIGPIPE, SIG_IGN);
    Streams streams;
    ServerOptions options = options_with_one_page_connection();
    options.body_timeout = 10000ms;  // dropped by the queue's bound, not by the write limit
    HttpServer server(streams.handler(), {}, options);
    server.start({{"127.0.0.1", 0}});
    const uint16_t port = server.endpoints().at(0).port;

    Client stuck(port, 2048), reader(port);
    stuck.send("GET /stream HTTP/1.1\r\n\r\n");
    ASSERT_EQ(streams.first.get_future().wait_for(3s), std::future_status::ready);
    reader.send("GET /stream HTTP/1.1\r\n\r\n");
    for (int i = 0; i < 300 && streams.senders.size() < 2; ++i) std::this_thread::sleep_for(10ms);
    std::lock_guard lock(streams.mutex);
    ASSERT_EQ(streams.senders.size(), 2u);

    const auto event = std::make_shared<const std::string>("data: " + std::string(1000, 'x') + "\n\n");
    std::size_t sent = 0;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (streams.senders[0]->is_open() && std::chrono::steady_clock::now() < end) {
        streams.senders[0]->send(event);
        sent += event->size();
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_FALSE(streams.senders[0]->is_open());
    // Kernel buffers on both sides and the server's queue: far below what was offered to a client
    // with an unbounded queue over five seconds.
    EXPECT_LT(sent, 4u << 20);
    EXPECT_TRUE(streams.senders[1]->is_open());
    EXPECT_TRUE(streams.senders[1]->send(std::make_shared<const std::string>("data: end\n\n")));
    EXPECT_NE(reader.read_until("data: end").find("data: end"), std::string::npos);
}

// A sender that keeps what it is given.
class RecordingSender : public StreamSender {
public:
    bool send(std::shared_ptr<const std::string> bytes) override {
        std::lock_guard lock(mutex);
        if (!open) return false;
        received += *bytes;
        return true;
    }
    bool is_open() const override { return open; }
    void close() override { open = false; }
    std::string text() {
        std::lock_guard lock(mutex);
        return received;
    }
    std::atomic<bool> open{true};

private:
    std::mutex mutex;
    std::string received;
};

std::string wait_for_text(RecordingSender& sender, std::string_view wanted) {
    for (int i = 0; i < 300 && sender.text().find(wanted) == std::string::npos; ++i) std::this_thread::sleep_for(10ms);
    return sender.text();
}

TEST(EventHubTest, CapGivesPlacesBackWhenClientsEnd) {
    auto hub = std::make_shared<EventHub>(2, 10s);
    auto a = std::make_shared<RecordingSender>(), b = std::make_shared<RecordingSender>();
    auto place_a = hub->reserve(), place_b = hub->reserve();
    ASSERT_TRUE(place_a && place_b);
    EXPECT_EQ(hub->reserve(), nullptr);
    hub->attach(std::move(place_a), a, "");
    hub->attach(std::move(place_b), b, "");
    EXPECT_EQ(hub->clients(), 2u);
    EXPECT_EQ(hub->reserve(), nullptr);
    a->close();  // a client gone is noticed when the cap is reached
    auto again = hub->reserve();
    EXPECT_NE(again, nullptr);
    EXPECT_EQ(hub->clients(), 2u);
    again.reset();  // a place never attached is given back with its token
    EXPECT_EQ(hub->clients(), 1u);
}

TEST(EventHubTest, StatesReachClientsInOrderAndLastEventIdIsHonoured) {
    auto hub = std::make_shared<EventHub>(10, 50ms);
    auto early = std::make_shared<RecordingSender>();
    hub->attach(hub->reserve(), early, "");
    EXPECT_EQ(early->text(), "retry: 3000\n:\n\n");  // no state yet: only a first line

    hub->publish({1, "1.a"});
    hub->publish({1, "1.a"});  // the same state is announced once
    wait_for_text(*early, "id: 1.a");
    hub->publish({2, "2.b"});
    const std::string got = wait_for_text(*early, "id: 2.b");
    EXPECT_EQ(got.find(EventHub::state_event({1, "1.a"})), 15u);
    EXPECT_NE(got.find(EventHub::state_event({1, "1.a"}) + EventHub::state_event({2, "2.b"})), std::string::npos);
    EXPECT_NE(wait_for_text(*early, "\n:\n\n:\n\n").find(":\n\n", 20), std::string::npos);  // heartbeats

    struct Case {
        std::string last_event_id;
        bool gets_state;
    };
    for (const Case& c : {Case{"", true}, Case{"1.a", true}, Case{"2.b", false}, Case{"2.x", true}}) {
        auto late = std::make_shared<RecordingSender>();
        hub->attach(hub->reserve(), late, c.last_event_id);
        EXPECT_EQ(late->text().find("data: {\"state\": 2}") != std::string::npos, c.gets_state) << c.last_event_id;
    }
}

TEST(EventHubTest, AClientAttachedWhileAStateGoesOutHearsItOnce) {
    // Attaching between a publish and its sending once gave the new client the state twice.
    auto hub = std::make_shared<EventHub>(100, 10s);
    std::vector<std::shared_ptr<RecordingSender>> clients;
    for (int round = 1; round <= 30; ++round) {
        const EventState state{std::uint64_t(round), std::to_string(round) + ".s"};
        hub->publish(state);
        clients.push_back(std::make_shared<RecordingSender>());
        hub->attach(hub->reserve(), clients.back(), "");
        wait_for_text(*clients.front(), "id: " + state.id + "\n");
    }
    std::this_thread::sleep_for(50ms);
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const std::string text = clients[i]->text();
        for (std::size_t round = i + 1; round <= clients.size(); ++round) {
            const std::string event = EventHub::state_event({round, std::to_string(round) + ".s"});
            const auto first = text.find(event);
            EXPECT_NE(first, std::string::npos) << "client " << i << " round " << round;
            EXPECT_EQ(text.find(event, first + 1), std::string::npos) << "client " << i << " round " << round;
        }
    }
}

TEST(PageServiceEvents, ClientsHearTheServedStateAndEachNewOne) {
    namespace test_pages = ringolan::test_pages;
    std::mutex mutex;
    auto first = test_pages::snapshot_of(
        test_pages::write_clubs_file("events_clubs.mdb", {test_pages::Club{"7", "SV Tal"}}, {{1001, "7"}}));
    std::shared_ptr<const ringolan::db::Snapshot> latest = first;
    PageService service(PageServiceConfig{.web_root = test_pages::test_dir(),
                                          .latest = [&] {
                                              std::lock_guard lock(mutex);
                                              return latest;
                                          },
                                          .start_settings = {},
                                          .on_page = {},
                                          .access_log = false});
    auto server = service.make_server();
    server->start({{"127.0.0.1", 0}});
    const uint16_t port = server->endpoints().at(0).port;

    Client client(port);
    client.send("GET /api/v1/events HTTP/1.1\r\n\r\n");
    const std::string greeting = client.read_until("data: {\"state\": 1}\n\n");
    EXPECT_TRUE(greeting.starts_with("HTTP/1.1 200 OK\r\n")) << greeting;
    EXPECT_NE(greeting.find("Content-Type: text/event-stream; charset=utf-8\r\n"), std::string::npos);
    EXPECT_NE(greeting.find("data: {\"state\": 1}\n\n"), std::string::npos) << greeting;
    EXPECT_EQ(service.events().clients(), 1u);

    ringolan::db::SnapshotInfo info = first->info();
    info.generation = 2;
    {
        std::lock_guard lock(mutex);
        latest = ringolan::db::Snapshot::from_image(ringolan::db::build_snapshot_image(info.source), info);
    }
    service.state_notifier()();  // no page was asked for: the new state is served after warming
    EXPECT_NE(client.read_until("data: {\"state\": 2}\n\n").find("data: {\"state\": 2}"), std::string::npos);
    server->stop();
}

}  // namespace
