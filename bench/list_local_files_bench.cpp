// list_local_files on a folder of 10 000 files: the whole folder read and
// sorted in the browser's order, then one page of it as the tool and as the
// reply an assistant reads (time and text size), then the whole folder page
// after page, and a page of the names that hold a word.
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

// The tool alone, one page of the listing (the default 200 files, then the
// largest page a caller may ask for): the whole folder is still read and
// sorted, only the page's files become JSON.
void BM_ListLocalFilesTool(benchmark::State& state) {
    BenchFolder folder(10000);
    ServiceSession service;
    ProgressSink progress;
    ToolContext context{service, progress};
    Json args{{"directory", folder.path}};
    if (state.range(0) != 200) args["limit"] = state.range(0);
    size_t files = 0;
    for (auto _ : state) {
        Json result = LocalTools::run("list_local_files", args, context);
        files = result["files"].size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["files"] = static_cast<double>(files);
}
BENCHMARK(BM_ListLocalFilesTool)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);

// What the assistant waits for and reads: the tool, then its result as
// indented text and as structured content, for one page of the 10 000-file
// folder. "text_bytes" is the size of the text an assistant keeps or cuts.
void BM_ListLocalFilesCall(benchmark::State& state) {
    BenchFolder folder(10000);
    std::istringstream in;
    std::ostringstream out, err;
    MCPServer server(AgentConfig{}, in, out, err);
    Json arguments{{"directory", folder.path}};
    if (state.range(0) != 200) arguments["limit"] = state.range(0);
    Json params{{"name", "list_local_files"}, {"arguments", arguments}};
    size_t textBytes = 0, lineBytes = 0;
    for (auto _ : state) {
        MCPServer::ToolReply reply = server.runTool(params);
        textBytes = reply.result["content"][0]["text"].get_ref<const std::string&>().size();
        std::string line = MCPServer::replyLine(2, std::move(reply));
        lineBytes = line.size();
        benchmark::DoNotOptimize(line);
    }
    state.counters["text_bytes"] = static_cast<double>(textBytes);
    state.counters["line_bytes"] = static_cast<double>(lineBytes);
}
BENCHMARK(BM_ListLocalFilesCall)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);

// The whole folder as an assistant now gets it: page after page of the given
// size, following next_offset, every page a call of its own.
void BM_ListLocalFilesEveryPage(benchmark::State& state) {
    BenchFolder folder(10000);
    std::istringstream in;
    std::ostringstream out, err;
    MCPServer server(AgentConfig{}, in, out, err);
    size_t pages = 0, textBytes = 0;
    for (auto _ : state) {
        pages = textBytes = 0;
        Json arguments{{"directory", folder.path}, {"limit", state.range(0)}};
        for (int call = 0; call < 100; ++call) {
            MCPServer::ToolReply reply = server.runTool(Json{{"name", "list_local_files"}, {"arguments", arguments}});
            textBytes += reply.result["content"][0]["text"].get_ref<const std::string&>().size();
            ++pages;
            auto next = JSON::decode(reply.structured);
            if (!next || !next->contains("next_offset")) break;
            arguments["offset"] = (*next)["next_offset"];
        }
    }
    state.counters["pages"] = static_cast<double>(pages);
    state.counters["text_bytes"] = static_cast<double>(textBytes);
}
BENCHMARK(BM_ListLocalFilesEveryPage)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);

// A page of the names that hold a word, case and accents folded: a quarter of
// the names are not ASCII.
void BM_ListLocalFilesNameContains(benchmark::State& state) {
    BenchFolder folder(10000);
    ServiceSession service;
    ProgressSink progress;
    ToolContext context{service, progress};
    Json args{{"directory", folder.path}, {"name_contains", "DÉCOR"}};
    size_t total = 0;
    for (auto _ : state) {
        Json result = LocalTools::run("list_local_files", args, context);
        total = result["total"].get<size_t>();
        benchmark::DoNotOptimize(result);
    }
    state.counters["total"] = static_cast<double>(total);
}
BENCHMARK(BM_ListLocalFilesNameContains)->Unit(benchmark::kMillisecond);

void BM_PlanNumber(benchmark::State& state) {
    const std::string names[] = {"SEQ07_Plan 12 - take3.jpg", "P42_forum-nuit.png", "référence décor a-7.pdf",
                                 "forum.jpg"};
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Local::planNumber(names[i++ % 4]));
}
BENCHMARK(BM_PlanNumber);

}  // namespace

BENCHMARK_MAIN();
