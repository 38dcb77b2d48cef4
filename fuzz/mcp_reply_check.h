#pragma once

#include <string_view>

// What an assistant must be able to rely on, whatever it sends: standard
// output carries only protocol messages, one per line; each message that
// calls for an answer gets exactly one, in the order the messages came, with
// its own id; a tool call is answered with a tool result, never a JSON-RPC
// error. The expected answers are worked out from the input alone.
namespace McpReplyCheck {

// Aborts (a finding for the fuzzer) with an explanation on standard error
// when `output`, what the server wrote for `input`, breaks any of these.
void verify(std::string_view input, std::string_view output);

}  // namespace McpReplyCheck
