// JSON.decode on arbitrary bytes: whatever it accepts is a top-level object or
// array within the nesting limit, and encoding it (compact or indented) gives
// a text that decodes to the same value.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/json.h"
#include "finding.h"

namespace {

int depthOf(const Json& value) {
    if (!value.is_structured()) return 0;
    int deepest = 0;
    for (const auto& member : value) deepest = std::max(deepest, depthOf(member));
    return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto value = JSON::decode(text);
    if (!value) return 0;
    FUZZ_CHECK(value->is_structured(), "decode accepted a bare scalar");
    FUZZ_CHECK(depthOf(*value) <= JSON::kMaxDepth, "decode accepted a document nested beyond its limit");
    for (bool pretty : {false, true}) {
        std::string encoded = JSON::encode(*value, pretty);
        FUZZ_CHECK(encoded != "null", "a decoded document cannot be encoded");
        FUZZ_CHECK(encoded.find('\n') == std::string::npos || pretty, "a compact text spans lines");
        auto again = JSON::decode(encoded);
        FUZZ_CHECK(again && *again == *value, "encoding does not give back the decoded value");
    }
    return 0;
}
