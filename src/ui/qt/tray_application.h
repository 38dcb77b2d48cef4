#pragma once

// The GUI program's whole life: one copy per user (the instance lock), the
// Qt event loop with the application state, the delegate and the channel
// through which later launches reach it.
//   kestro-agent-gui [--background]
// "--background" marks a launch that must not bring the panel forward (an MCP
// server's); the no-argument mode of kestro-agent passes its arguments on.
namespace TrayApplication {

int run(int argc, char** argv);

}  // namespace TrayApplication
