#pragma once

#include <gtest/gtest.h>

#include "core/tool_error.h"

// The ToolError that `f` throws; a test failure when it throws none.
template <typename F>
ToolError thrown(F&& f) {
    try {
        f();
    } catch (const ToolError& e) {
        return e;
    }
    ADD_FAILURE() << "no ToolError thrown";
    return ToolError("", "");
}
