#include "mcp/mcp_server.h"

// Placeholder until the local tools land: the catalogue lists none.
Json MCPServer::localToolDefs() const { return Json::array(); }
