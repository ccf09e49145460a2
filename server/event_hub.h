// Server-sent events of the live view: every open /api/v1/events stream gets the served state
// when it connects and whenever a new state is served, and a comment line as a heartbeat.
// Sending happens on the hub's own thread, so announcing a state never waits for clients.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/http_request.h"
#include "server/http_response.h"
#include "server/limits.h"

namespace ringolan::server {

// What a client learns about a state: its number (the generation of the snapshot) and an id
// that also tells a restarted server's states apart (sent as the event id).
struct EventState {
    uint64_t number = 0;
    std::string id;
    bool operator==(const EventState&) const = default;
};

class EventHub : public std::enable_shared_from_this<EventHub> {
public:
    explicit EventHub(std::size_t max_clients = kMaxEventClients, std::chrono::milliseconds heartbeat = kEventHeartbeat);
    ~EventHub();
    EventHub(const EventHub&) = delete;
    EventHub& operator=(const EventHub&) = delete;

    // A place for one client, held until the returned token is gone; nullptr at the cap.
    std::shared_ptr<void> reserve();
    // Starts sending to a client holding a place. last_event_id: the client's Last-Event-ID
    // header (empty when none); a client that already has the current state gets no repeat.
    void attach(std::shared_ptr<void> place, std::shared_ptr<StreamSender> client, const std::string& last_event_id);
    // The state now served (any thread; returns at once). States without a number are not sent.
    void publish(EventState state);

    std::size_t clients() const;
    // The bytes of the state event as clients receive it.
    static std::string state_event(const EventState& state);

private:
    struct Client {
        std::shared_ptr<void> place;
        std::shared_ptr<StreamSender> sender;
        std::string sent_id;  // the state this client was last told of
    };
    struct Places {
        std::mutex mutex;
        std::size_t taken = 0;
    };
    void run();
    // The clients to send to, with mutex_ held: all of them, or those not yet told of state_.
    std::vector<Client> take_receivers(bool state_only);
    void drop_ended();  // with mutex_ held

    const std::size_t max_clients_;
    const std::chrono::milliseconds heartbeat_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    const std::shared_ptr<Places> places_;  // shared with the tokens, which may outlive the hub
    std::vector<Client> clients_;
    EventState state_;
    bool state_changed_ = false;
    bool stop_ = false;
    std::thread thread_;
};

// Answers a request for the event stream: the answer stays open and the hub sends the states to
// it; over the cap, the client is told when to come back. Quick enough for the I/O thread.
void AnswerEventStream(EventHub& events, const Request& request, Response& response);

}  // namespace ringolan::server
