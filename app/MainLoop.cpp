// Start-up, the main loop and the keyboard commands. One thread: the window procedure
// runs inside the message dispatch and inside window creation and destruction.
// A failed re-creation (move, resize or frame switch) ends the loop the way a failed first
// creation does: no window would be left to take a key or a close command.
#include "app/MainLoop.h"

#include "app/Frames.h"
#include "base/Configuration.h"
#include "base/Runtime.h"
#include "display/InstrumentWindow.h"
#include "display/PictureFiles.h"
#include "flightdata/FPCuser.h"
#include "net/KvTcpIpcUdp.h"
#include "net/ValueRequest.h"
#include "platform/System.h"
#include "platform/Window.h"

#include <cerrno>
#include <cfenv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr int ColorBits = 32;

const char* ModeTitle() {
    return NetworkMode ? titles::Network : titles::Fsuipc;
}

// The application icon must be readable at start; the window loads it again at every
// creation.
void LoadApplicationIcon() {
    std::FILE* file = std::fopen(IconFile, "rb");
    if (!file) {
        int reason = errno;
        char directory[4096] = "";
        GetCurrentDirectoryA(sizeof directory, directory);
        throw FileError(std::string("Cannot open file \"") + directory + PathDelimiter + IconFile +
                        "\". " + std::strerror(reason));
    }
    std::fclose(file);
}

// Whole numbers wrap at 32 bits, as the entries are signed 32-bit values.
int AddWrapping(int value, int delta) {
    return static_cast<int>(static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(delta));
}

// Creates the window again at the current placement. Recreating is set meanwhile so that
// the creation's own move and size messages are not stored as the user's.
bool CreateAgain(const char* title) {
    Recreating = true;
    bool created = CreateInstrumentWindow(title, WindowWidth, WindowHeight, ColorBits, Borderless);
    Recreating = false;
    return created;
}

// One arrow key in one adjust mode: the entry it changes by one pixel and the placement
// variable that follows it. Within a mode the keys are served in this order.
struct ArrowStep {
    bool positionMode;
    int key;
    const char* section;
    const char* entry;
    const char* defaultValue;
    int delta;
    int* variable;
};
const ArrowStep ArrowStepTable[] = {
    {true, VK_RIGHT, config::SectionWindow, config::KeyX, config::DefaultPosition, +1, &WindowX},
    {true, VK_LEFT, config::SectionWindow, config::KeyX, config::DefaultPosition, -1, &WindowX},
    {true, VK_UP, config::SectionWindow, config::KeyY, config::DefaultPosition, -1, &WindowY},
    {true, VK_DOWN, config::SectionWindow, config::KeyY, config::DefaultPosition, +1, &WindowY},
    {false, VK_RIGHT, config::SectionSize, config::KeyWidth, config::DefaultSize, +1, &WindowWidth},
    {false, VK_LEFT, config::SectionSize, config::KeyWidth, config::DefaultSize, -1, &WindowWidth},
    {false, VK_UP, config::SectionSize, config::KeyHeight, config::DefaultSize, -1, &WindowHeight},
    {false, VK_DOWN, config::SectionSize, config::KeyHeight, config::DefaultSize, +1, &WindowHeight},
};

// Runs the arrow steps of one mode whose keys are down: each from the stored entry, one
// pixel, back to the file, then a new window there. False when a re-creation failed.
bool ArrowSteps(bool positionMode) {
    for (const ArrowStep& step : ArrowStepTable) {
        if (step.positionMode != positionMode || !KeyStates[step.key]) continue;
        int value = AddWrapping(ReadConfigInteger(step.section, step.entry, step.defaultValue), step.delta);
        *step.variable = value;
        WriteConfigInteger(step.section, step.entry, value);
        bool created = RecreateWindow(ModeTitle());
        KeyStates[step.key] = false;
        if (!created) return false;
    }
    return true;
}

// F12: the same window with the frame switched, at the stored size.
bool SwitchFrame() {
    DestroyInstrumentWindow();
    Borderless = !Borderless;
    WindowWidth = ReadConfigInteger(config::SectionSize, config::KeyWidth, config::DefaultSize);
    WindowHeight = ReadConfigInteger(config::SectionSize, config::KeyHeight, config::DefaultSize);
    return CreateAgain(ModeTitle());
}

void Reconnect() {
    if (!NetworkMode || !TcpClient || TcpClient->Connected()) return;
    SetWindowTextA(WindowHandle, titles::Connecting);
    TcpClient->SetServerPort(ServerPort);
    TcpClient->SetServerAddress(ServerAddress);
    if (TcpClient->Connect()) SetWindowTextA(WindowHandle, titles::Reconnected);
}

}  // namespace

bool RecreateWindow(const char* title) {
    DestroyInstrumentWindow();
    return CreateAgain(title);
}

std::int32_t RunMainLoop() {
    if (!CreateInstrumentWindow(ModeTitle(), WindowWidth, WindowHeight, ColorBits, Borderless)) return 0;
    Recreating = false;
    Needle1Vor = true;
    Needle2Vor = true;

    bool done = false;
    std::int32_t lastParam = 0;
    MSG message{};
    while (!done) {
        // a. One message, or else one frame.
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            lastParam = static_cast<std::int32_t>(message.wParam);
            if (message.message == WM_QUIT) {
                done = true;
            } else {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        } else if (WindowActive && !(NetworkMode ? DrawSceneNetwork() : DrawSceneFsuipc())) {
            done = true;
        } else {
            SwapBuffers(DeviceContext);
        }

        // b. Escape ends the loop once this pass is through.
        if (KeyStates[VK_ESCAPE]) done = true;

        // c. Needle sources.
        if (KeyStates[VK_F1]) {
            Needle1Vor = !Needle1Vor;
            KeyStates[VK_F1] = false;
        }
        if (KeyStates[VK_F2]) {
            Needle2Vor = !Needle2Vor;
            KeyStates[VK_F2] = false;
        }

        // d. Window frame.
        if (KeyStates[VK_F12]) {
            bool created = SwitchFrame();
            KeyStates[VK_F12] = false;
            if (!created) return 0;
        }

        // e. Position mode.
        if (KeyStates[VK_F11]) {
            PositionMode = !PositionMode;
            SizeMode = false;
            KeyStates[VK_F11] = false;
        }
        if (PositionMode && !ArrowSteps(true)) return 0;

        // f. Size mode.
        if (KeyStates[VK_F9]) {
            SizeMode = !SizeMode;
            PositionMode = false;
            KeyStates[VK_F9] = false;
        }
        if (SizeMode && !ArrowSteps(false)) return 0;

        // g. Reconnection to the data server.
        Reconnect();
    }
    DestroyInstrumentWindow();
    return lastParam;
}

int RunProgram() {
    // Rounding of received numbers relies on round-to-nearest, ties to even; floating-point
    // exceptions stay masked, so a division by zero raises nothing.
    std::fesetround(FE_TONEAREST);
    StartSocketLibrary();
    LoadApplicationIcon();
    ReadConfiguration();
    PositionMode = false;
    SizeMode = false;
    Recreating = true;
    RunMainLoop();
    return 0;
}
