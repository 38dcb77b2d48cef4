#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "config/agent_config.h"
#include "platform/descriptor_input.h"
#include "core/json.h"
#include "service/manifest.h"
#include "service/config_follower.h"
#include "service/progress_sink.h"
#include "service/service_session.h"

// The stdio MCP server an assistant starts with --mcp.
//
//   stdin line ─► trim ─► JSON.decode ─► handle (one per object, batches split)
//                                          │ reload config.json (once per read)
//                                          │ dispatch on "method"
//                                          ▼
//   stdout ◄──── send: one compact JSON line per answered message
//
// Single-threaded: a message, blocking HTTP exchanges included, is handled
// completely before the next line is read, so replies leave in request order.
class MCPServer {
  public:
    MCPServer(AgentConfig cfg, std::istream& in, std::ostream& out, std::ostream& err);
    // The progress sink writes through this very object.
    MCPServer(const MCPServer&) = delete;
    MCPServer& operator=(const MCPServer&) = delete;

    // Serves until the end of input or until the assistant stops reading our
    // output; returns the process exit status (0).
    int run();

    // One request or notification; writes at most one reply.
    void handle(const Json& message);

    // Writes one protocol message as a single line; progress notifications
    // during long tool calls go out the same way.
    void send(const Json& message);

    static Json result(const Json& id, Json value);
    static Json rpcError(const Json& id, int code, const std::string& message);
    // A tools/call result on its way out. A local tool's object value is shown
    // twice, indented as the text and compact as "structuredContent"; the
    // compact copy is kept as text made from the indented one, so a listing
    // of thousands of files is written out once rather than twice.
    struct ToolReply {
        Json result;             // "content" and "isError"
        std::string structured;  // compact JSON for "structuredContent", or empty
        // The whole tool result as one value, "structuredContent" included.
        Json value() &&;
    };
    static ToolReply toolReply(Json value, bool isError = false);
    // The reply line for request `id`, exactly as send(result(id, …)) writes it.
    static std::string replyLine(const Json& id, ToolReply reply);

    std::string instructions() const;
    void log(const std::string& text);

    // The tool catalogue: local tools (with the manifest's overrides), then the
    // service's own tools.
    Json localToolDefs() const;
    ToolReply runTool(const Json& params);

    // The service half: account, proxy, uploads; and the progress of the
    // tools/call under way, written through `send`.
    ServiceSession service;
    ProgressSink progress;
    std::optional<Manifest> manifest;

  private:
    void handleLine(std::string_view line);
    void reloadConfig();
    void dispatch(const Json& message);
    bool inputWaiting() const;  // bytes of a next line already in our input
    void writeLine(std::string line);  // one reply or notification, newline added

    std::istream& m_in;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_outputClosed = false;
    bool m_holdReplies = false;  // while a quick reply is followed by waiting input
    ConfigFollower m_config;
    // Set when the input counts its reads (standard input in --mcp mode).
    const DescriptorInput* m_countedInput;
    size_t m_readsAtConfigLook = 0;
};
