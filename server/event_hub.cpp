#include "server/event_hub.h"

#include <algorithm>

namespace ringolan::server {

namespace {

// The client reconnects this long after a dropped connection.
constexpr std::string_view kRetryField = "retry: 3000\n";
constexpr std::string_view kHeartbeat = ":\n\n";

}  // namespace

EventHub::EventHub(std::size_t max_clients, std::chrono::milliseconds heartbeat)
    : max_clients_(max_clients), heartbeat_(heartbeat), places_(std::make_shared<Places>()) {
    thread_ = std::thread([this] { run(); });
}

EventHub::~EventHub() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::string EventHub::state_event(const EventState& state) {
    return "event: state\nid: " + state.id + "\ndata: {\"state\": " + std::to_string(state.number) + "}\n\n";
}

std::shared_ptr<void> EventHub::reserve() {
    auto taken = [&] {
        std::lock_guard lock(places_->mutex);
        return places_->taken;
    };
    if (taken() >= max_clients_) {
        std::lock_guard lock(mutex_);
        drop_ended();  // clients gone since the last event give their places back
    }
    std::lock_guard lock(places_->mutex);
    if (places_->taken >= max_clients_) return nullptr;
    ++places_->taken;
    // The token gives its place back when its last copy goes.
    return std::shared_ptr<void>(places_.get(), [places = places_](void*) {
        std::lock_guard lock(places->mutex);
        --places->taken;
    });
}

void EventHub::drop_ended() {
    std::erase_if(clients_, [](const Client& c) { return !c.sender->is_open(); });
}

void EventHub::attach(std::shared_ptr<void> place, std::shared_ptr<StreamSender> client,
                      const std::string& last_event_id) {
    std::string greeting(kRetryField);
    {
        std::lock_guard lock(mutex_);
        if (state_.number != 0 && state_.id != last_event_id) greeting += state_event(state_);
        else greeting += kHeartbeat;  // the head and a first line go out at once
        drop_ended();
        // A state published but not yet sent out reaches this client with the greeting only.
        clients_.push_back({std::move(place), client, state_.number != 0 ? state_.id : last_event_id});
    }
    client->send(std::make_shared<const std::string>(std::move(greeting)));
}

void EventHub::publish(EventState state) {
    std::lock_guard lock(mutex_);
    if (state.number == 0 || state == state_) return;
    state_ = std::move(state);
    state_changed_ = true;
    wake_.notify_all();
}

std::size_t EventHub::clients() const {
    std::lock_guard lock(places_->mutex);
    return places_->taken;
}

std::vector<EventHub::Client> EventHub::take_receivers(bool state_only) {
    drop_ended();  // their places are given back with their tokens
    std::vector<Client> receivers;
    for (Client& client : clients_) {
        if (state_only && client.sent_id == state_.id) continue;
        if (state_only) client.sent_id = state_.id;
        receivers.push_back(client);
    }
    return receivers;
}

void EventHub::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        const bool woken = wake_.wait_for(lock, heartbeat_, [&] { return stop_ || state_changed_; });
        if (stop_) return;
        std::shared_ptr<const std::string> bytes;
        if (woken) {
            state_changed_ = false;
            bytes = std::make_shared<const std::string>(state_event(state_));
        } else {
            bytes = std::make_shared<const std::string>(kHeartbeat);
        }
        const std::vector<Client> receivers = take_receivers(woken);
        lock.unlock();
        for (const Client& client : receivers) client.sender->send(bytes);
        lock.lock();
    }
}

void AnswerEventStream(EventHub& events, const Request& request, Response& response) {
    response.extra_headers = "Cache-Control: no-cache\r\n";
    auto place = events.reserve();
    if (!place) {
        response.set_status(503);
        response.content_type = "application/json; charset=utf-8";
        response.extra_headers += "Retry-After: " + std::to_string(kEventRetryAfter.count()) + "\r\n";
        response.content = "{\"error\":\"Zu viele Verbindungen f\xC3\xBCr Live-Meldungen; bitte gleich erneut versuchen.\"}";
        return;
    }
    response.set_status(200);
    response.content_type = "text/event-stream; charset=utf-8";
    response.on_stream = [hub = events.weak_from_this(), place = std::move(place),
                          last = request.header("Last-Event-ID").value_or("")](std::shared_ptr<StreamSender> sender) {
        if (const auto events = hub.lock())
            events->attach(place, std::move(sender), last);
        else
            sender->close();
    };
}

}  // namespace ringolan::server
