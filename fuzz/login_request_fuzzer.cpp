// The login listener's judgement of the bytes a connection sends: request
// line, target, query, state check and the page it answers with. A code is
// only ever taken from "/callback" with the state the flow sent out, the page
// never carries the request's text unescaped, and the answer is one complete
// HTTP message.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "finding.h"
#include "login/callback_request.h"

namespace {

constexpr std::string_view kState = "Zx81-st4te_value";

// A reason may well be "<p>" itself, so looking for its text in the page
// proves nothing; the page of a refusal must instead carry exactly as many
// tags as the page of a harmless one.
size_t tagCount(std::string_view page) { return static_cast<size_t>(std::count(page.begin(), page.end(), '<')); }

size_t refusedPageTags() {
    static const size_t count = tagCount(
        CallbackRequest::parse("GET /callback?state=" + std::string(kState) + "&error=x HTTP/1.1\r\n\r\n", kState)
            .page());
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CallbackRequest request = CallbackRequest::parse(bytes, kState);
    using Kind = CallbackRequest::Kind;

    std::string_view target = CallbackRequest::target(CallbackRequest::requestLine(bytes));
    if (request.kind() == Kind::Code) {
        FUZZ_CHECK(target.starts_with("/callback"), "a code taken from another path");
        auto items = CallbackRequest::queryItems(target);
        FUZZ_CHECK(items.has_value(), "a code from a query that does not read");
        auto state = items->equal_range("state");
        bool stateMatches = false;
        for (auto it = state.first; it != state.second; ++it) stateMatches = stateMatches || it->second == kState;
        FUZZ_CHECK(stateMatches, "a code accepted without the flow's state");
        FUZZ_CHECK(!request.code().empty(), "an empty code");
    }
    FUZZ_CHECK(CallbackRequest::parse(bytes, "").kind() != Kind::Code, "a code accepted against an empty state");

    std::string response = request.response();
    if (request.kind() == Kind::Ignore) {
        FUZZ_CHECK(response.empty(), "an answer to a request that is ignored");
        return 0;
    }
    std::string page = request.page();
    FUZZ_CHECK(response.starts_with("HTTP/1.1 200 OK\r\n"), "not an HTTP answer");
    FUZZ_CHECK(response.ends_with("\r\n\r\n" + page), "the page is not the body");
    FUZZ_CHECK(response.find("Content-Length: " + std::to_string(page.size()) + "\r\n") != std::string::npos,
               "the length does not match the page");
    if (request.kind() == Kind::Refused)
        FUZZ_CHECK(tagCount(page) == refusedPageTags(), "the service's reason put in the page unescaped");
    FUZZ_CHECK(CallbackRequest::escapeHtml(bytes).find_first_of("<>\"'") == std::string::npos,
               "escaping left markup");
    return 0;
}
