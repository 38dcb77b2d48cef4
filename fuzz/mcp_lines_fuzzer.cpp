// The MCP server fed arbitrary bytes as its standard input, then held to what
// an assistant relies on (McpReplyCheck): one protocol message per line, one
// answer per message that calls for one, in order.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "config/config_store.h"
#include "fuzz_home.h"
#include "mcp/mcp_server.h"
#include "mcp_reply_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHome::instance().useLoggedIn(true);
    std::string input(reinterpret_cast<const char*>(data), size);
    std::istringstream in(input);
    std::ostringstream out, err;
    MCPServer server(ConfigStore::load(), in, out, err);
    server.run();
    McpReplyCheck::verify(input, out.str());
    return 0;
}
