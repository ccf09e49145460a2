// The hostile-clients load tool against a page server with short limits: the server cuts off what
// it must, and the tool counts every cut and comes straight back.
#include "server/http_server.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

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
