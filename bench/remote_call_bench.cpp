// What the agent adds to a service tool call: a "tools/call" forwarded by the
// real kestro-agent (spawned once, messages over pipes) against the same
// JSON-RPC POST sent straight to the same local server on a kept-alive
// connection. The difference is the agent's own cost per call: reading the
// line, reloading the configuration, forwarding, writing the reply.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "config/config_store.h"
#include "core/json.h"

extern char** environ;

namespace {

const std::string kCall =
    R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"list_workspaces","arguments":{"limit":20}}})";
const std::string kResult =
    R"({"jsonrpc":"2.0","id":1,"result":{"content":[{"type":"text","text":"{\"workspaces\":[{\"id\":1,\"name\":\"Court métrage\"},{\"id\":2,\"name\":\"Série\"}]}"}],"structuredContent":{"workspaces":[{"id":1,"name":"Court métrage"},{"id":2,"name":"Série"}]},"isError":false}})";

// The service: one endpoint, a fixed answer after `workMicros` of "work",
// connections kept alive.
struct Service {
    httplib::Server server;
    int port = 0;
    std::thread thread;
    explicit Service(long workMicros) {
        server.set_tcp_nodelay(true);
        server.set_keep_alive_max_count(1000000);
        server.set_keep_alive_timeout(30);
        server.Post("/mcp", [workMicros](const httplib::Request&, httplib::Response& res) {
            if (workMicros > 0) std::this_thread::sleep_for(std::chrono::microseconds(workMicros));
            res.set_content(kResult, "application/json");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        for (int i = 0; i < 5000 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Service() {
        server.stop();
        thread.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port); }
};

struct Home {
    std::string path;
    explicit Home(const std::string& baseUrl) {
        char templ[] = "/tmp/kestro-bench-XXXXXX";
        path = ::mkdtemp(templ);
        ::setenv("HOME", path.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path + "/.config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
        ::setenv("KESTRO_AGENT_MANIFEST_URL", "", 1);  // start without asking for a manifest
        ConfigStore::save(AgentConfig{.baseUrl = baseUrl, .token = "bench-token"});
    }
    ~Home() { std::filesystem::remove_all(path); }
};

// The agent as an assistant runs it: one process, one line in, one line out.
struct Agent {
    pid_t pid = -1;
    int in = -1, out = -1;
    std::string buffered;

    Agent() {
        ::signal(SIGPIPE, SIG_IGN);
        int toChild[2], fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid = ::fork();
        if (pid == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            int devNull = ::open("/dev/null", O_WRONLY);
            ::dup2(devNull, 2);
            const char* bin = ::getenv("KESTRO_AGENT_BIN");
            std::string program = bin ? bin : KESTRO_AGENT_BIN_DEFAULT;
            char* argv[] = {program.data(), const_cast<char*>("--mcp"), nullptr};
            ::execve(argv[0], argv, environ);
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in = toChild[1];
        out = fromChild[0];
    }
    ~Agent() {
        ::close(in);
        int status = 0;
        for (int i = 0; i < 2000 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) ::usleep(1000);
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        ::close(out);
    }

    // One request, its reply line; empty when the agent stopped answering.
    std::string call(const std::string& line) {
        std::string message = line + "\n";
        if (::write(in, message.data(), message.size()) != static_cast<ssize_t>(message.size())) return "";
        for (;;) {
            auto nl = buffered.find('\n');
            if (nl != std::string::npos) {
                std::string reply = buffered.substr(0, nl);
                buffered.erase(0, nl + 1);
                return reply;
            }
            pollfd fd{out, POLLIN, 0};
            if (::poll(&fd, 1, 10000) <= 0) return "";
            char chunk[65536];
            ssize_t n = ::read(out, chunk, sizeof chunk);
            if (n <= 0) return "";
            buffered.append(chunk, static_cast<size_t>(n));
        }
    }
};

size_t collect(char* ptr, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(ptr, size * count);
    return size * count;
}

void BM_DirectPost(benchmark::State& state) {
    Service service(state.range(0));
    CURL* curl = curl_easy_init();
    std::string url = service.url() + "/mcp";
    curl_slist* headers = nullptr;
    for (const char* h : {"Content-Type: application/json", "Accept: application/json",
                          "Authorization: Bearer bench-token", "MCP-Protocol-Version: 2025-06-18", "Expect:"})
        headers = curl_slist_append(headers, h);
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, kCall.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(kCall.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(curl) != CURLE_OK || body != kResult) {
            state.SkipWithError("direct call failed");
            break;
        }
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}
// Argument: the service's own time per call in microseconds; 0 is a bare
// loopback answer, 1000 is closer to a service that does some work.
BENCHMARK(BM_DirectPost)->Arg(0)->Arg(1000)->UseRealTime();

void BM_ForwardedThroughAgent(benchmark::State& state) {
    Service service(state.range(0));
    Home home(service.url());
    Agent agent;
    const std::string expected = JSON::encode(Json::parse(kResult)["result"]);
    for (auto _ : state) {
        std::string reply = agent.call(kCall);
        auto decoded = JSON::decode(reply);
        if (!decoded || JSON::encode((*decoded)["result"]) != expected) {
            state.SkipWithError(("forwarded call failed: " + reply).c_str());
            break;
        }
    }
}
BENCHMARK(BM_ForwardedThroughAgent)->Arg(0)->Arg(1000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
