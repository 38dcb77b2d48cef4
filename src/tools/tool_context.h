#pragma once

#include "service/progress_sink.h"
#include "service/service_session.h"

// What a local tool may reach beyond the user's files: the service session
// (service data, uploads) and the progress of the call it runs in. Nothing of
// the protocol server, so a tool runs the same in a test without one.
struct ToolContext {
    ServiceSession& service;
    ProgressSink& progress;
};
