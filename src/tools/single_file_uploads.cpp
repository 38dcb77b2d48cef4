#include <algorithm>

#include "core/tool_args.h"
#include "tools/file_extensions.h"
#include "tools/local.h"
#include "tools/local_tool_args.h"
#include "tools/local_tool_handlers.h"
#include "tools/tool_context.h"

// The three tools that send one file: to a plan, as an asset card, or to the
// media library. Every local check (the file, the identifier, the type) comes
// before anything is sent, in that order, so the assistant hears first of the
// mistake the user can fix most easily.
namespace LocalTools {
namespace {

using namespace LocalToolArgs;

bool accepted(const std::vector<std::string>& table, const std::string& ext) {
    return std::find(table.begin(), table.end(), ext) != table.end();
}

// The transfer, reported as progress of the call when the assistant asked.
Json send(ToolContext& context, const LocalFile& file, std::optional<int64_t> workspaceId,
          std::optional<int64_t> planId, const Json& finalize) {
    Json reply = context.service.uploadFile(file.path, workspaceId, planId, finalize,
                                            context.progress.throttledBytes(file.name));
    return withFileName(std::move(reply), file.name);
}

}  // namespace

Json uploadFileToPlan(const Json& args, ToolContext& context) {
    LocalFile file = Local::stat(path(args, "path"));
    int64_t planId = requiredId(args, "plan_id");
    if (!accepted(kPlanExts, file.ext))
        throw ToolError("bad_type", "Un plan accepte jpg/png/webp ou mp4/mov/webm/m4v, pas ." + file.ext + ".");
    Json finalize = finalizeObject("plan");
    finalize["plan_id"] = planId;
    setIfPresent(finalize, "prompt", optionalText(args, "prompt"));
    return send(context, file, std::nullopt, planId, finalize);
}

Json uploadFileToAssets(const Json& args, ToolContext& context) {
    LocalFile file = Local::stat(path(args, "path"));
    int64_t workspaceId = requiredId(args, "workspace_id");
    if (!accepted(kCardImageExts, file.ext))
        throw ToolError("bad_type", "Une carte Assets prend une image jpg, png ou webp (pas ." + file.ext +
                                        "). Pour une vidéo ou un document : upload_file_to_media.");
    Json finalize = finalizeObject("card");
    setIfPresent(finalize, "card_id", optionalInt(args, "card_id"));
    // A card always has a name: the file's, made readable, when none is given.
    finalize["name"] = optionalText(args, "name").value_or(Local::stemAsPrompt(file.name));
    for (const char* key : {"kind", "description", "prompt"}) setIfPresent(finalize, key, optionalText(args, key));
    return send(context, file, workspaceId, std::nullopt, finalize);
}

Json uploadFileToMedia(const Json& args, ToolContext& context) {
    LocalFile file = Local::stat(path(args, "path"));
    int64_t workspaceId = requiredId(args, "workspace_id");
    auto kind = Local::kind(file.ext);
    if (!kind) throw ToolError("bad_type", "Extension non acceptée : ." + file.ext);
    Json finalize = finalizeObject("media");
    // An explicit prompt, even an empty one, wins; only images get one from
    // their file name, since a name says little about a sound or a document.
    auto prompt = strArg(args, "prompt");
    if (!prompt && *kind == "image") prompt = Local::stemAsPrompt(file.name);
    setIfPresent(finalize, "prompt", prompt);
    setIfPresent(finalize, "folder_id", optionalInt(args, "folder_id"));
    setIfPresent(finalize, "display_title", optionalText(args, "display_title"));
    return send(context, file, workspaceId, std::nullopt, finalize);
}

}  // namespace LocalTools
