// The program's one loop: window messages and frames, the keyboard commands, and in
// network mode the reconnection to the data server.
#pragma once

#include "base/InstrumentState.h"

#include <cstdint>

// Start-up: the application icon, the configuration, the flags, then the loop.
// Returns the process exit code (0 for every orderly end).
int RunProgram();

// Creates the window and runs passes until Escape, the quit message or a failed frame.
// Returns 0 when a window creation fails, else the parameter of the last message retrieved.
std::int32_t RunMainLoop();

// Destroys the window and creates it again at the current placement with that title.
// Returns whether the new window exists.
bool RecreateWindow(const char* title);
