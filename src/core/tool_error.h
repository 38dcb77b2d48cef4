#pragma once

#include <stdexcept>
#include <string>

// The error that tool code, the service proxy, the login flow and the assistant
// writers throw. `code` is a stable snake-case identifier for programs;
// `message` is a French sentence shown to the user unchanged.
struct ToolError : std::exception {
    std::string code;
    std::string message;

    ToolError(std::string code, std::string message) : code(std::move(code)), message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }
};
