// Tool calls shaped like an assistant's, with arguments of every type under
// the names the local tools read, so the fuzzer spends its time in the
// argument checks, the file layer and the error paths rather than in the JSON
// parser. The same reply rules as for raw lines apply (McpReplyCheck).
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "config/config_store.h"
#include "core/json.h"
#include "fuzz_home.h"
#include "mcp/mcp_server.h"
#include "mcp_reply_check.h"

namespace {

constexpr std::array kTools{"list_local_files",        "upload_file_to_plan",       "upload_file_to_assets",
                            "upload_file_to_media",    "upload_folder_to_assets",   "fill_sequence_from_folder",
                            "list_workspaces",         "List_Local_Files",          ""};

constexpr std::array kKeys{"directory", "path",          "type",          "plan_id",          "workspace_id",
                           "sequence_id", "name",        "kind",          "description",      "prompt",
                           "card_id",   "folder_id",     "display_title", "folder_name",      "name_prefix",
                           "prompt_prefix", "create_missing_plans", "offset", "limit", "name_contains"};

// Paths inside the fuzz home and the forms an assistant writes them in.
constexpr std::array kTexts{"~/shots",
                            "~/shots/",
                            " ~/shots\n",
                            "file://~/shots",
                            "~/shots/plan_01.jpg",
                            "~/shots/link_07.jpg",
                            "~/shots/empty.webp",
                            "~/shots/notes.pdf",
                            "~/shots/sub",
                            "~/shots/./sub/../plan_01.jpg",
                            "~/cards",
                            "~/missing",
                            "~",
                            "shots",
                            "/",
                            "",
                            "image",
                            "video",
                            "all",
                            "personnage",
                            "reference",
                            "12",
                            "-3",
                            "+7",
                            "9223372036854775808",
                            "oui",
                            "TRUE",
                            "0"};

Json value(FuzzedDataProvider& fdp, int depth);

Json text(FuzzedDataProvider& fdp) {
    if (fdp.ConsumeBool()) return kTexts[fdp.ConsumeIntegralInRange<size_t>(0, kTexts.size() - 1)];
    return fdp.ConsumeRandomLengthString(64);
}

Json value(FuzzedDataProvider& fdp, int depth) {
    switch (fdp.ConsumeIntegralInRange(0, depth > 2 ? 5 : 7)) {
        case 0:
            return text(fdp);
        case 1:
            return fdp.ConsumeIntegral<int64_t>();
        case 2:
            return fdp.ConsumeIntegralInRange<int64_t>(-2, 1000);
        case 3: {
            double d = fdp.ConsumeFloatingPoint<double>();
            return std::isfinite(d) ? Json(d) : Json(0.5);  // a decoded message never holds a non-finite number
        }
        case 4:
            return fdp.ConsumeBool();
        case 5:
            return nullptr;
        case 6: {
            Json array = Json::array();
            for (int n = fdp.ConsumeIntegralInRange(0, 3); n > 0; --n) array.push_back(value(fdp, depth + 1));
            return array;
        }
        default: {
            Json object = Json::object();
            for (int n = fdp.ConsumeIntegralInRange(0, 3); n > 0; --n)
                object[fdp.ConsumeRandomLengthString(8)] = value(fdp, depth + 1);
            return object;
        }
    }
}

// A JSON value whose strings may not all be UTF-8 cannot be a decoded
// message; such a call is rebuilt from valid text only.
bool encodable(const Json& message) { return JSON::encode(message) != "null"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    FuzzHome::instance().useLoggedIn(fdp.ConsumeIntegralInRange(0, 7) != 0);

    Json arguments = Json::object();
    for (int n = fdp.ConsumeIntegralInRange(0, 8); n > 0; --n)
        arguments[kKeys[fdp.ConsumeIntegralInRange<size_t>(0, kKeys.size() - 1)]] = value(fdp, 0);
    Json params{{"name", kTools[fdp.ConsumeIntegralInRange<size_t>(0, kTools.size() - 1)]}};
    switch (fdp.ConsumeIntegralInRange(0, 9)) {
        case 0:
            break;  // no arguments at all
        case 1:
            params["arguments"] = value(fdp, 1);  // arguments that are not an object
            break;
        default:
            params["arguments"] = std::move(arguments);
    }
    if (fdp.ConsumeBool()) params["_meta"] = {{"progressToken", fdp.ConsumeBool() ? Json("p") : Json(7)}};
    Json message{{"jsonrpc", "2.0"}, {"id", fdp.ConsumeIntegralInRange(0, 3)}, {"method", "tools/call"},
                 {"params", std::move(params)}};
    if (!encodable(message)) return -1;  // not added to the corpus

    std::string input = JSON::encode(message) + "\n";
    std::istringstream in(input);
    std::ostringstream out, err;
    MCPServer server(ConfigStore::load(), in, out, err);
    server.run();
    McpReplyCheck::verify(input, out.str());
    return 0;
}
