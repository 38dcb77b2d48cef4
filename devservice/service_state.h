#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dev_service.h"

namespace devservice {

// A refusal of a service tool, reported to the caller as a tool result with
// "isError": true and this text.
struct ToolRefusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What the service holds (workspaces, sequences, plans, cards, media, upload
// slots) and the service tools that read and change it. Not thread-safe: the
// owner serialises access.
class ServiceState {
public:
    ServiceState();

    // The tool list as "tools/list" gives it.
    static Json toolDefinitions();

    // Runs one service tool; throws ToolRefusal for a refusal and
    // std::invalid_argument for a tool that does not exist.
    Json call(const std::string& tool, const Json& args);

    // The upload slot `id`, or null.
    Upload* findUpload(int64_t id);

    // The plans of one sequence, by number.
    std::vector<const Plan*> plansOf(int64_t sequenceId) const;

    std::string baseUrl;  // used to build upload and file addresses
    std::vector<Workspace> workspaces;
    std::vector<Sequence> sequences;
    std::vector<Plan> plans;
    std::vector<Card> cards;
    std::vector<MediaItem> media;
    std::vector<Upload> uploads;

    int64_t addWorkspace(const std::string& name);
    int64_t addSequence(int64_t workspaceId, const std::string& name);
    int64_t addPlan(int64_t sequenceId, int64_t number, const std::string& text);
    int64_t addCard(int64_t workspaceId, const std::string& name, bool isFolder, std::optional<int64_t> folderId);

private:
    Json listWorkspaces();
    Json listSequences(const Json& args);
    Json listPlans(const Json& args);
    Json createPlan(const Json& args);
    Json listAssetCards(const Json& args);
    Json createAssetCardFolder(const Json& args);
    Json updateAssetCard(const Json& args);
    Json requestUpload(const Json& args);
    Json finalizeUpload(const Json& args);
    Json finalizeToPlan(const Upload& upload, const Json& args);
    Json finalizeToCard(const Upload& upload, const Json& args);
    Json finalizeToMedia(const Upload& upload, const Json& args);

    const Workspace& workspace(const Json& args, const char* key = "workspace_id");
    Sequence& sequence(int64_t id);
    Plan* plan(int64_t id);
    Card* card(int64_t id);
    std::string fileUrl(const Upload& upload) const;

    int64_t m_nextId = 100;
};

}  // namespace devservice
