#include "mcp_reply_check.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/unicode_text.h"

namespace McpReplyCheck {
namespace {

struct Expected {
    Json id;         // null for an answer to a message without one
    bool isTool;     // a tools/call: its answer is a tool result
    bool isFailure;  // answered with a JSON-RPC error
};

[[noreturn]] void fail(const std::string& why, std::string_view output) {
    std::fprintf(stderr, "MCP reply check failed: %s\n--- output ---\n%.*s\n", why.c_str(),
                 static_cast<int>(std::min<size_t>(output.size(), 4000)), output.data());
    std::abort();
}

void expectFor(const Json& message, std::vector<Expected>& out) {
    static const std::set<std::string> kAnswered{"initialize", "ping", "tools/list", "tools/call",
                                                 "resources/list", "resources/templates/list", "prompts/list"};
    auto id = message.find("id");
    bool hasId = id != message.end() && !id->is_null();
    Json replyId = hasId ? *id : Json(nullptr);
    auto method = message.find("method");
    if (method == message.end() || !method->is_string()) {
        if (hasId) out.push_back({replyId, false, true});
        return;
    }
    const std::string& name = method->get_ref<const std::string&>();
    if (kAnswered.count(name))
        out.push_back({replyId, name == "tools/call", false});
    else if (hasId)
        out.push_back({replyId, false, true});
}

std::vector<Expected> expected(std::string_view input) {
    std::vector<Expected> out;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        std::string_view line = UnicodeText::trimSpacesAndTabs(input.substr(start, end - start));
        start = end + 1;
        if (line.empty()) continue;
        auto value = JSON::decode(line);
        if (!value) {
            out.push_back({nullptr, false, true});
        } else if (value->is_object()) {
            expectFor(*value, out);
        } else {
            bool allObjects = true;
            for (const auto& element : *value) allObjects = allObjects && element.is_object();
            if (allObjects)
                for (const auto& element : *value) expectFor(element, out);
        }
    }
    return out;
}

void checkToolResult(const Json& result, std::string_view output) {
    auto content = result.find("content");
    auto isError = result.find("isError");
    if (content == result.end() || !content->is_array() || content->empty() || isError == result.end() ||
        !isError->is_boolean())
        fail("a tool call not answered with a tool result", output);
    const Json& first = content->front();
    if (!first.is_object() || first.value("type", "") != "text" || !first.contains("text") ||
        !first["text"].is_string())
        fail("a tool result without its text", output);
    if (isError->get<bool>() && !first["text"].get_ref<const std::string&>().starts_with("Erreur"))
        fail("a failed tool call whose text does not say so", output);
}

}  // namespace

void verify(std::string_view input, std::string_view output) {
    std::vector<Expected> wanted = expected(input);
    size_t next = 0, start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string_view::npos) fail("output that does not end with a line feed", output);
        auto message = JSON::decode(output.substr(start, end - start));
        start = end + 1;
        if (!message || !message->is_object() || message->value("jsonrpc", "") != "2.0")
            fail("a line that is not a JSON-RPC message", output);
        if (message->contains("method")) {
            if ((*message)["method"] != "notifications/progress" || message->contains("id"))
                fail("an unexpected notification", output);
            continue;
        }
        if (next >= wanted.size()) fail("more answers than messages that call for one", output);
        const Expected& e = wanted[next++];
        if (!message->contains("id") || (*message)["id"] != e.id) fail("an answer out of order", output);
        bool isFailure = message->contains("error");
        if (isFailure == message->contains("result")) fail("an answer with both or neither result and error", output);
        if (isFailure != e.isFailure) fail("an answer of the wrong kind", output);
        if (e.isTool) checkToolResult((*message)["result"], output);
    }
    if (next != wanted.size()) fail("a message left without its answer", output);
}

}  // namespace McpReplyCheck
