// Start-up, the main loop and the keyboard commands. One thread: the window procedure
// runs inside the message dispatch and inside window creation and destruction.
// A failed re-creation (move, resize or frame switch) ends the loop the way a failed first
// creation does: no window would be left to take a key or a close command.
#include "app/MainLoop.h"

#include "app/Frames.h"
#include "base/Configuration.h"
#include "base/Runtime.h"
#include "display/InstrumentWindow.h"
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
    std::FILE* file = std::fopen(windowtexts::IconFile, "rb");
    if (!file) {
        int reason = errno;
        char directory[4096] = "";
        GetCurrentDirectoryA(sizeof directory, directory);
        throw FileError(std::string("Cannot open file \"") + directory + PathDelimiter + windowtexts::IconFile +
                        "\". " + std::strerror(reason));
    }
    std::fclose(file);
}

// Whole numbers wrap at 32 bits, as the entries are signed 32-bit values.
int AddWrapping(int value, int delta) {
    return static_cast<int>(static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(delta));
}

// One move or resize step: from the stored entry, one pixel, back to the file, new window.
bool PlacementStep(const char* section, const char* key, const char* defaultValue, int delta, int& variable) {
    int value = AddWrapping(ReadConfigInteger(section, key, defaultValue), delta);
    variable = value;
    WriteConfigInteger(section, key, value);
    return RecreateWindow(ModeTitle());
}

struct ArrowStep {
    int key;
    const char* section;
    const char* positionKey;
    int delta;
};

// Runs the four arrow steps of one mode; false when a re-creation failed.
bool ArrowSteps(bool positionMode) {
    const char* section = positionMode ? config::SectionWindow : config::SectionSize;
    const char* defaultValue = positionMode ? config::DefaultPosition : config::DefaultSize;
    const char* horizontal = positionMode ? config::KeyX : config::KeyWidth;
    const char* vertical = positionMode ? config::KeyY : config::KeyHeight;
    int& across = positionMode ? WindowX : WindowWidth;
    int& down = positionMode ? WindowY : WindowHeight;
    struct {
        int key;
        const char* entry;
        int delta;
        int& variable;
    } steps[] = {
        {VK_RIGHT, horizontal, +1, across},
        {VK_LEFT, horizontal, -1, across},
        {VK_UP, vertical, -1, down},
        {VK_DOWN, vertical, +1, down},
    };
    for (auto& step : steps) {
        if (!KeyStates[step.key]) continue;
        bool created = PlacementStep(section, step.entry, defaultValue, step.delta, step.variable);
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
    Recreating = true;
    bool created = CreateInstrumentWindow(ModeTitle(), WindowWidth, WindowHeight, ColorBits, Borderless);
    Recreating = false;
    return created;
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
    Recreating = true;
    bool created = CreateInstrumentWindow(title, WindowWidth, WindowHeight, ColorBits, Borderless);
    Recreating = false;
    return created;
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
