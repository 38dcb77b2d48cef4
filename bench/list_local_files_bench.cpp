// list_local_files on a folder of 10 000 files: the folder read, the
// browser-order sort and the plan-number guesses, then the whole tool call
// with its reply text.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "mcp/mcp_server.h"
#include "tools/local.h"
#include "tools/local_tools.h"
#include "tools/tool_context.h"

namespace {

// Names an assistant meets in a storyboard folder: numbered plans, takes,
// mixed case, a few without any number and some files of other kinds.
struct BenchFolder {
    std::string path;
    explicit BenchFolder(int count) {
        char templ[] = "/tmp/kestro-bench-list-XXXXXX";
        path = ::mkdtemp(templ);
        const char* exts[] = {".jpg", ".PNG", ".mp4", ".mov", ".pdf", ".txt", ".webp", ".heic"};
        for (int i = 0; i < count; ++i) {
            std::string name;
            switch (i % 4) {
                case 0:
                    name = "plan_" + std::to_string(i);
                    break;
                case 1:
                    name = "SEQ07_Plan " + std::to_string(i) + " - take" + std::to_string(i % 7);
                    break;
                case 2:
                    name = "P" + std::to_string(i % 1000) + "_forum-nuit_" + std::to_string(i);
                    break;
                default:
                    name =
                        "référence décor " + std::string(1, static_cast<char>('a' + i % 26)) + "-" + std::to_string(i);
            }
            std::string p = path + "/" + name + exts[i % 8];
            int fd = ::open(p.c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0) ::close(fd);
        }
    }
    ~BenchFolder() { std::filesystem::remove_all(path); }
};

void BM_LocalList(benchmark::State& state) {
    BenchFolder folder(static_cast<int>(state.range(0)));
    const auto& exts = Local::exts(std::nullopt);
    for (auto _ : state) benchmark::DoNotOptimize(Local::list(folder.path, exts));
}
BENCHMARK(BM_LocalList)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ListLocalFilesTool(benchmark::State& state) {
    BenchFolder folder(static_cast<int>(state.range(0)));
    ServiceSession service;
    ProgressSink progress;
    ToolContext context{service, progress};
    Json args{{"directory", folder.path}};
    size_t files = 0;
    for (auto _ : state) {
        Json result = LocalTools::run("list_local_files", args, context);
        files = result["files"].size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["files"] = static_cast<double>(files);
}
BENCHMARK(BM_ListLocalFilesTool)->Arg(10000)->Unit(benchmark::kMillisecond);

// What the assistant waits for: the tool, then its result as indented text
// and as structured content.
void BM_ListLocalFilesCall(benchmark::State& state) {
    BenchFolder folder(static_cast<int>(state.range(0)));
    std::istringstream in;
    std::ostringstream out, err;
    MCPServer server(AgentConfig{}, in, out, err);
    Json params{{"name", "list_local_files"}, {"arguments", {{"directory", folder.path}}}};
    for (auto _ : state) benchmark::DoNotOptimize(MCPServer::replyLine(2, server.runTool(params)));
}
BENCHMARK(BM_ListLocalFilesCall)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_PlanNumber(benchmark::State& state) {
    const std::string names[] = {"SEQ07_Plan 12 - take3.jpg", "P42_forum-nuit.png", "référence décor a-7.pdf",
                                 "forum.jpg"};
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Local::planNumber(names[i++ % 4]));
}
BENCHMARK(BM_PlanNumber);

}  // namespace

BENCHMARK_MAIN();
