// The hostile-clients load tool against a page server with short limits: the server cuts off what
// it must, and the tool counts every cut and comes straight back.
#include "server/http_server.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace ringolan::server;
using namespace std::chrono_literals;

namespace {

struct SwarmRun {
    int status = -1;
    std::map<std::string, double> result;  // the RESULT line's key=value pairs
    double operator[](const std::string& key) const {
        auto it = result.find(key);
        return it == result.end() ? -1 : it->second;
    }
};

SwarmRun swarm(const std::string& args) {
    SwarmRun run;
    std::string command = std::string(HOSTILE_CLIENTS) + " " + args + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe)) out += buf;
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("RESULT ")) continue;
        std::istringstream fields(line.substr(7));
        for (std::string field; fields >> field;) {
            auto eq = field.find('=');
            if (eq != std::string::npos) run.result[field.substr(0, eq)] = std::stod(field.substr(eq + 1));
        }
    }
    return run;
}

struct Server {
    explicit Server(std::chrono::milliseconds header_limit) : http(
        [this](const Request&, Response& response) {
            ++answered;
            response.content = "ok";
        },
        {}, options(header_limit)) {
        http.start({{"127.0.0.1", 0}});
        port = " --port " + std::to_string(http.endpoints().at(0).port);
    }
    static ServerOptions options(std::chrono::milliseconds header_limit) {
        ServerOptions o;
        o.header_timeout = header_limit;
        o.body_timeout = header_limit;
        o.stop_wait = 3000ms;
        return o;
    }
    std::atomic<int> answered{0};
    HttpServer http;
    std::string port;
};

// Every answer stays open as an event stream; the streams and the paths asked for are kept.
struct StreamServer {
    StreamServer() : http(
        [this](const Request& request, Response& response) {
            response.content_type = "text/event-stream";
            response.on_stream = [this, path = request.document_path](std::shared_ptr<StreamSender> sender) {
                std::lock_guard lock(mutex);
                paths.push_back(path);
                senders.push_back(std::move(sender));
            };
        },
        {}, Server::options(5000ms)) {
        http.start({{"127.0.0.1", 0}});
        port = " --port " + std::to_string(http.endpoints().at(0).port);
    }
    // Waits until n streams have been opened in all.
    bool wait_for(std::size_t n) {
        for (int i = 0; i < 300; ++i) {
            {
                std::lock_guard lock(mutex);
                if (senders.size() >= n) return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::vector<std::shared_ptr<StreamSender>> streams() {
        std::lock_guard lock(mutex);
        return senders;
    }
    std::mutex mutex;
    std::vector<std::string> paths;
    std::vector<std::shared_ptr<StreamSender>> senders;
    HttpServer http;
    std::string port;
};

}  // namespace

TEST(HostileClients, IdleAndSlowAreCutAtTheHeaderLimitAndReturn) {
    Server server(400ms);
    SwarmRun run = swarm("--idle 4 --slow 3 --seconds 2.2 --warmup 0.3 --report 10" + server.port);
    ASSERT_EQ(run.status, 0);
    // Each connection lives 0.4 s, so about five per connection in 2.2 s; the bounds leave room
    // for a slow machine but not for missed or doubled counts.
    EXPECT_GE(run["cut_idle"], 4 * 3);
    EXPECT_LE(run["cut_idle"], 4 * 6);
    EXPECT_GE(run["cut_slow"], 3 * 3);
    EXPECT_LE(run["cut_slow"], 3 * 6);
    EXPECT_EQ(run["cut_off"], run["cut_idle"] + run["cut_slow"]);
    EXPECT_EQ(run["cut_endless"], 0);
    // reconnected at once, so nearly all seven are open at any moment
    EXPECT_GT(run["connected_mean"], 5.0);
    EXPECT_LE(run["connected_mean"], 7.0);
    EXPECT_EQ(run["connect_errors"], 0);
    EXPECT_EQ(server.answered, 0);  // no request was ever complete
}

TEST(HostileClients, EndlessHeadersAreCutAtTheLineCapNotTheTimeLimit) {
    Server server(5000ms);  // far beyond the run: every cut comes from the header-line cap
    SwarmRun run = swarm("--endless 2 --seconds 1.5 --warmup 0.2 --report 10" + server.port);
    ASSERT_EQ(run.status, 0);
    EXPECT_GE(run["cut_endless"], 10);
    EXPECT_EQ(run["cut_off"], run["cut_endless"]);
    EXPECT_EQ(run["endless"], 2);
    EXPECT_EQ(server.answered, 0);
}

TEST(HostileClients, RefusesAnythingButLoopbackAndEmptyRuns) {
    EXPECT_EQ(swarm("--port 80 --idle 1 --seconds 1 --host 192.0.2.1").status, 2);
    EXPECT_EQ(swarm("--port 80 --seconds 1").status, 2);
    EXPECT_EQ(swarm("--idle 1 --seconds 1").status, 2);  // no port
}

TEST(HostileClients, EventStallHoldsItsStreamsWithoutReadingAndReturnsWhenEnded) {
    StreamServer server;
    auto run = std::async(std::launch::async, [&] {
        return swarm("--eventstall 3 --seconds 2.5 --warmup 0.3 --report 10" + server.port);
    });
    ASSERT_TRUE(server.wait_for(3));
    std::this_thread::sleep_for(500ms);
    auto first = server.streams();
    EXPECT_EQ(first.size(), 3u);  // held: nothing came back in the meantime
    for (auto& stream : first) stream->close();
    ASSERT_TRUE(server.wait_for(6));  // each ended stream is opened again

    // Nothing is read: a kilobyte a millisecond, which a reading client takes at once, piles up
    // until the server's bound ends every new stream.
    auto again = server.streams();
    const auto chunk = std::make_shared<const std::string>(1024, 'x');
    for (int i = 0; i < 300; ++i) {
        for (std::size_t s = 3; s < again.size(); ++s) again[s]->send(chunk);
        std::this_thread::sleep_for(1ms);
    }
    for (std::size_t s = 3; s < again.size(); ++s) EXPECT_FALSE(again[s]->is_open()) << "stream " << s;

    const SwarmRun result = run.get();
    ASSERT_EQ(result.status, 0);
    // The kernel may or may not show the tool the ends of the stalled streams behind their
    // unread bytes, so each of those is counted at most once.
    EXPECT_GE(result["cut_eventstall"], 3);
    EXPECT_LE(result["cut_eventstall"], 6);
    EXPECT_EQ(result["cut_off"], result["cut_eventstall"]);
    EXPECT_GT(result["connected_mean"], 2.5);
    EXPECT_LE(result["connected_mean"], 3.0);
    std::lock_guard lock(server.mutex);
    EXPECT_EQ(server.paths.size(), std::size_t(3 + result["cut_eventstall"]));
    EXPECT_EQ(server.paths, std::vector<std::string>(server.paths.size(), "/api/v1/events"));
}
