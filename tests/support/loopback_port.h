#pragma once

#include <chrono>
#include <cstdint>

// A socket bound to `port` on the loopback the way the login's listener
// binds (over the listener's own old connections in TIME_WAIT); -1 when the
// port is taken. The caller closes it.
int bindLoopback(std::uint16_t port);

// Whether the login's listener could take `port` on the loopback now. Not
// only a program listening there takes it: a loopback connection whose
// client side used the port as its own keeps it for a minute after closing
// (TIME_WAIT), and a listener cannot bind over that.
bool loopbackPortFree(std::uint16_t port);

// Waits, at most `timeout`, for `port` to be free; a minute outlasts any
// TIME_WAIT. False when it is still taken (a program holds it).
bool waitForLoopbackPort(std::uint16_t port, std::chrono::seconds timeout = std::chrono::seconds(70));
