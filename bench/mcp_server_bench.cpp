// In-process cost of one message through the server: configuration reload,
// dispatch and reply encoding, without the pipes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "config/config_store.h"
#include "mcp/mcp_server.h"

namespace {

struct BenchHome {
    std::string path;
    BenchHome() {
        char templ[] = "/tmp/kestro-bench-XXXXXX";
        path = ::mkdtemp(templ);
        ::setenv("HOME", path.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path + "/.config").c_str(), 1);
        ConfigStore::save(AgentConfig{.baseUrl = "http://127.0.0.1:9", .token = "bench"});
    }
    ~BenchHome() { std::filesystem::remove_all(path); }
};

void BM_HandlePing(benchmark::State& state) {
    BenchHome home;
    std::istringstream in;
    std::ostringstream out, err;
    MCPServer server(ConfigStore::load(), in, out, err);
    Json ping{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "ping"}};
    for (auto _ : state) {
        server.handle(ping);
        out.str("");
    }
}
BENCHMARK(BM_HandlePing);

void BM_DecodeRequestLine(benchmark::State& state) {
    std::string line =
        R"({"jsonrpc":"2.0","id":42,"method":"tools/call","params":{"name":"list_local_files","arguments":{"directory":"~/Desktop/plans","type":"image"}}})";
    for (auto _ : state) benchmark::DoNotOptimize(JSON::decode(line));
}
BENCHMARK(BM_DecodeRequestLine);

}  // namespace

BENCHMARK_MAIN();
