#include <algorithm>
#include <map>

#include "core/tool_args.h"
#include "tools/batch_run.h"
#include "tools/file_extensions.h"
#include "tools/local.h"
#include "tools/local_tool_args.h"
#include "tools/local_tool_handlers.h"
#include "tools/tool_context.h"

// The files of a folder laid on the plans of a sequence, matched by the plan
// number in their names, each as a new version of its plan. Missing plans are
// skipped, or created on request; creation fills the numbering up to the file's
// number with placeholders, since the service always appends a new plan after
// the last one.
namespace LocalTools {
namespace {

// Files without a number go after every numbered one.
constexpr int kNoNumberRank = 1000000;

using PlanMap = std::map<int64_t, int64_t>;  // plan number → plan id

struct Target {
    int64_t workspaceId = 0;
    int64_t sequenceId = 0;
    PlanMap plans;
};

struct FillLists {
    Json done = Json::array();
    Json skipped = Json::array();
    Json failed = Json::array();
};

std::vector<LocalFile> planFilesOf(const Json& args, std::vector<std::string>& notUtf8) {
    auto [folder, files] = Local::list(LocalToolArgs::path(args, "directory"), kPlanExts, &notUtf8);
    if (files.empty()) throw ToolError("empty", "Aucune image/vidéo dans " + folder + ".");
    // Stable, so files of one number keep the listing's name order. Each name
    // is read once: the number comes from a regular expression.
    std::vector<std::pair<int, size_t>> ranks;
    ranks.reserve(files.size());
    for (size_t i = 0; i < files.size(); ++i)
        ranks.emplace_back(Local::planNumber(files[i].name).value_or(kNoNumberRank), i);
    std::stable_sort(ranks.begin(), ranks.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<LocalFile> sorted;
    sorted.reserve(files.size());
    for (const auto& rank : ranks) sorted.push_back(std::move(files[rank.second]));
    return sorted;
}

std::optional<int64_t> integerAt(const Json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    auto it = object.find(key);
    return it == object.end() ? std::nullopt : integralNumber(*it);
}

// The objects of a reply's array; a missing or mistyped array holds none.
std::vector<Json> entries(const Json& reply, const char* key) {
    if (!reply.is_object()) return {};
    auto it = reply.find(key);
    if (it == reply.end() || !it->is_array()) return {};
    return it->get<std::vector<Json>>();
}

bool workspaceHolds(int64_t workspaceId, int64_t sequenceId, ServiceSession& service) {
    for (const Json& sequence :
         entries(service.remoteData("list_sequences", {{"workspace_id", workspaceId}}), "sequences"))
        if (integerAt(sequence, "id") == sequenceId) return true;
    return false;
}

// The first of the user's workspaces, in the service's order, that holds the
// sequence; the search stops there.
int64_t workspaceOf(int64_t sequenceId, ServiceSession& service) {
    for (const Json& workspace : entries(service.remoteData("list_workspaces", Json::object()), "workspaces")) {
        auto id = integerAt(workspace, "id");
        if (id && workspaceHolds(*id, sequenceId, service)) return *id;
    }
    throw ToolError("sequence_not_found",
                    "Séquence " + std::to_string(sequenceId) + " introuvable dans tes workspaces.");
}

int64_t checkedWorkspace(const Json& args, int64_t sequenceId, ServiceSession& service) {
    auto given = intArg(args, "workspace_id");
    if (!given) return workspaceOf(sequenceId, service);
    if (!workspaceHolds(*given, sequenceId, service))
        throw ToolError("sequence_not_found", "Séquence " + std::to_string(sequenceId) +
                                                  " introuvable dans le workspace " + std::to_string(*given) + ".");
    return *given;
}

// A later plan of the same number replaces an earlier one.
void addPlan(PlanMap& plans, const Json& plan, const char* idKey) {
    auto number = integerAt(plan, "plan_number");
    auto id = integerAt(plan, idKey);
    if (number && id) plans[*number] = *id;
}

Target findTarget(const Json& args, int64_t sequenceId, ServiceSession& service) {
    Target target;
    target.sequenceId = sequenceId;
    target.workspaceId = checkedWorkspace(args, sequenceId, service);
    Json listing =
        service.remoteData("list_plans", {{"workspace_id", target.workspaceId}, {"sequence_id", sequenceId}});
    for (const Json& plan : entries(listing, "plans")) addPlan(target.plans, plan, "id");
    return target;
}

// Creates the plans from just after the last one up to `number`: placeholders
// ("Plan 4") for the numbers in between, the file's own stem for its plan. The
// service numbers each new plan, so its reply, not our count, fills the map. A
// number inside the existing range (a hole) is never created. Creation starts
// at 1 at the lowest: a service listing odd numbers (negative, or the largest
// integer) must neither overflow the count nor set off a flood of creations.
void createPlansUpTo(int number, const LocalFile& file, Target& target, ServiceSession& service) {
    int64_t last = target.plans.empty() ? 0 : target.plans.rbegin()->first;
    if (last >= number) return;
    int64_t start = std::max<int64_t>(last + 1, 1);
    for (int64_t i = start; i <= number; ++i) {
        std::string text = i == number ? Local::stemAsPrompt(file.name) : "Plan " + std::to_string(i);
        addPlan(target.plans, service.remoteData("create_plan", {{"sequence_id", target.sequenceId}, {"text", text}}),
                "plan_id");
    }
}

bool isImage(const LocalFile& file) {
    return std::find(kImageExts.begin(), kImageExts.end(), file.ext) != kImageExts.end();
}

// Images carry the prompt they would be generated from; videos carry none.
Json planFinalize(const LocalFile& file, int64_t planId, const std::string& promptPrefix) {
    Json finalize = LocalToolArgs::finalizeObject("plan");
    finalize["plan_id"] = planId;
    if (isImage(file))
        finalize["prompt"] = (promptPrefix.empty() ? "" : promptPrefix + " ") + Local::stemAsPrompt(file.name);
    return finalize;
}

bool sendToPlan(const LocalFile& file, int number, int64_t planId, const std::string& promptPrefix,
                ServiceSession& service, FillLists& lists, const ProgressSink::ByteProgress& onBytes) {
    Json reply;
    try {
        reply = service.uploadFile(file.path, std::nullopt, planId, planFinalize(file, planId, promptPrefix), onBytes);
    } catch (const ToolError& error) {
        Json entry{{"file", file.name}, {"plan_number", number}};
        LocalToolArgs::recordFailure(entry, error);
        lists.failed.push_back(std::move(entry));
        return false;
    }
    lists.done.push_back(Json{{"file", file.name},
                              {"plan_number", number},
                              {"plan_id", planId},
                              {"version", LocalToolArgs::copied(reply, "version_label")},
                              {"url", LocalToolArgs::copied(reply, "url")}});
    return true;
}

struct FillOptions {
    bool createMissing = false;
    std::string promptPrefix;
};

// One file: skipped without a number or a plan, sent otherwise. True when the
// service accepted it.
bool placeFile(const LocalFile& file, const FillOptions& options, Target& target, ServiceSession& service,
               FillLists& lists, const ProgressSink::ByteProgress& onBytes) {
    auto number = Local::planNumber(file.name);
    if (!number) {
        lists.skipped.push_back(Json{{"file", file.name}, {"reason", "pas de numéro dans le nom"}});
        return false;
    }
    if (options.createMissing && !target.plans.count(*number)) createPlansUpTo(*number, file, target, service);
    auto plan = target.plans.find(*number);
    if (plan == target.plans.end()) {
        lists.skipped.push_back(
            Json{{"file", file.name}, {"reason", "plan " + std::to_string(*number) + " inexistant"}});
        return false;
    }
    return sendToPlan(file, *number, plan->second, options.promptPrefix, service, lists, onBytes);
}

Json summary(const Target& target, FillLists lists) {
    return Json{{"workspace_id", target.workspaceId},
                {"sequence_id", target.sequenceId},
                {"uploaded", lists.done.size()},
                {"skipped", lists.skipped.size()},
                {"failed", lists.failed.size()},
                {"done", std::move(lists.done)},
                {"skipped_files", std::move(lists.skipped)},
                {"failed_files", std::move(lists.failed)}};
}

}  // namespace

Json fillSequenceFromFolder(const Json& args, ToolContext& context) {
    ServiceSession& service = context.service;
    int64_t sequenceId = LocalToolArgs::requiredId(args, "sequence_id");
    std::vector<std::string> notUtf8;
    std::vector<LocalFile> files = planFilesOf(args, notUtf8);
    Target target = findTarget(args, sequenceId, service);
    FillOptions options{boolArg(args, "create_missing_plans"), strArg(args, "prompt_prefix").value_or("")};

    FillLists lists;
    for (const auto& name : notUtf8) lists.skipped.push_back(LocalToolArgs::skippedNotUtf8(name));
    BatchRun run(context.progress, files.size());
    for (const LocalFile& file : files)
        run.handle(file.name, [&](const ProgressSink::ByteProgress& onBytes) {
            return placeFile(file, options, target, service, lists, onBytes);
        });
    return summary(target, std::move(lists));
}

}  // namespace LocalTools
