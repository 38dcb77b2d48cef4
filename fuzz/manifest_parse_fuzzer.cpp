// The manifest on arbitrary bytes, then applied the way a server applies it:
// what it says may change how the local tools are presented and the
// instructions, never which tools exist, and the answers built from it are
// still protocol messages.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string_view>

#include "core/json.h"
#include "finding.h"
#include "service/manifest.h"
#include "mcp/mcp_server.h"
#include "tools/local_tools.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto manifest = Manifest::parse(bytes);
    if (!manifest) return 0;
    auto document = JSON::decode(bytes);
    FUZZ_CHECK(document && document->is_object(), "a manifest from a text that is not a JSON object");
    for (const auto& [name, entry] : manifest->tools)
        FUZZ_CHECK(entry.is_object() && entry.value("name", Json()) == name, "a tool entry under another name");
    FUZZ_CHECK(!manifest->latest || manifest->latest->is_object(), "a release that is not an object");

    std::istringstream in;
    std::ostringstream out, err;
    MCPServer server(AgentConfig(), in, out, err);
    server.manifest = std::move(manifest);
    Json tools = server.localToolDefs();
    const auto& defs = LocalTools::defs();
    FUZZ_CHECK(tools.is_array() && tools.size() == defs.size(), "the manifest changed the number of local tools");
    for (size_t i = 0; i < defs.size(); ++i) {
        FUZZ_CHECK(tools[i]["name"] == defs[i].name, "the manifest renamed or reordered a local tool");
        FUZZ_CHECK(tools[i]["inputSchema"].is_object(), "a local tool without an argument schema");
        FUZZ_CHECK(tools[i]["title"].is_string() && tools[i]["description"].is_string(), "a tool text of the wrong type");
    }
    FUZZ_CHECK(JSON::encode(MCPServer::result(1, Json{{"tools", tools}})) != "null", "a tool list that cannot be sent");
    FUZZ_CHECK(!server.instructions().empty(), "no instructions");
    return 0;
}
