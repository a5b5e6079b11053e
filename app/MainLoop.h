// The program's one loop: window messages and frames, the keyboard commands, and in
// network mode the reconnection to the data server.
#pragma once

#include <cstdint>

// Window titles, byte for byte as users and their scripts see them.
namespace titles {
inline constexpr char Fsuipc[] = "TAVRO VOR/ADF v1.2 - Freeware  [FSUIPC]";
inline constexpr char Network[] = "TAVRO VOR/ADF v1.2 - Freeware [NETWORK]";
inline constexpr char Connecting[] = "TAVRO VOR/ADF v1.2- Freeware [CONNECTING...]";
inline constexpr char Reconnected[] = "TAVRO VOR/ADF v1.2- Freeware [NETWORK]";
inline constexpr char NotConnected[] = "TAVRO VOR/ADF v1.2 - Freeware [NOT CONNECTED]";
}  // namespace titles

// Main-loop flags, read by the window procedure, the frame operations and the drawing.
extern bool Needle1Vor;
extern bool Needle2Vor;
extern bool PositionMode;
extern bool SizeMode;
extern bool Recreating;

// Start-up: the application icon, the configuration, the flags, then the loop.
// Returns the process exit code (0 for every orderly end).
int RunProgram();

// Creates the window and runs passes until Escape, the quit message or a failed frame.
// Returns 0 when a window creation fails, else the parameter of the last message retrieved.
std::int32_t RunMainLoop();

// Destroys the window and creates it again at the current placement with that title.
// Returns whether the new window exists.
bool RecreateWindow(const char* title);
