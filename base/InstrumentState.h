// What every part of the instrument may read of the running program: the window titles and
// the flags the keyboard commands set (needle sources, adjust modes, window re-creation).
// The main loop writes the flags; the window procedure, the drawing and the status file
// read them.
#pragma once

// Window titles, byte for byte as users and their scripts see them.
namespace titles {
inline constexpr char Fsuipc[] = "TAVRO VOR/ADF v1.2 - Freeware  [FSUIPC]";
inline constexpr char Network[] = "TAVRO VOR/ADF v1.2 - Freeware [NETWORK]";
inline constexpr char Connecting[] = "TAVRO VOR/ADF v1.2- Freeware [CONNECTING...]";
inline constexpr char Reconnected[] = "TAVRO VOR/ADF v1.2- Freeware [NETWORK]";
inline constexpr char NotConnected[] = "TAVRO VOR/ADF v1.2 - Freeware [NOT CONNECTED]";
}  // namespace titles

// True: the needle follows its VOR receiver; false: its ADF receiver.
extern bool Needle1Vor;
extern bool Needle2Vor;
// The arrow keys move the window (position mode) or size it (size mode); at most one is on.
extern bool PositionMode;
extern bool SizeMode;
// True while the window is being destroyed and created again, so that the messages of that
// re-creation are not taken for the user's.
extern bool Recreating;
