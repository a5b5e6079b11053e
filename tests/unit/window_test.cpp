// The window procedure's bookkeeping (keys, activation, close, stored placement) and the
// key table of the posix backend. The program runs on a display of its own with a window
// manager, so that windows have real frames (non-zero SM_CXFRAME and SM_CYCAPTION) as on a
// user's desktop, and the placement arithmetic is checked with them.
#include "TestSupport.h"

#include "base/Configuration.h"
#include "app/MainLoop.h"
#include "display/InstrumentWindow.h"
#include "platform/Window.h"
#include "platform/posix/posix_icon.h"
#include "platform/posix/posix_window_keys.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <sys/prctl.h>
#include <sys/wait.h>

namespace {

// Xvfb and openbox for this test program, started by the scripts' own display helpers
// before any window exists, and ended by their PIDs at the end.
class FramedDisplay : public ::testing::Environment {
public:
    void SetUp() override {
        // The servers outlive the shell that starts them; as their subreaper this program
        // inherits them and can wait for them at the end.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        const std::string command =
            "bash -c 'source \"" KORVA_SOURCE_DIR "/scripts/lib/display.sh\" && "
            "start_virtual_display -noreset && start_window_manager; "
            "echo \"$? $DISPLAY ${XVFB_PID:-0} ${OPENBOX_PID:-0}\"'";
        FILE* out = popen(command.c_str(), "r");
        ASSERT_NE(out, nullptr);
        char line[256] = {};
        bool got = std::fgets(line, sizeof line, out) != nullptr;
        pclose(out);
        ASSERT_TRUE(got) << "the display helpers said nothing";
        int status = 1;
        std::string display;
        std::istringstream(line) >> status >> display >> xvfb_ >> openbox_;
        ASSERT_EQ(status, 0) << "no virtual display with a window manager: " << line;
        setenv("DISPLAY", display.c_str(), 1);
    }
    void TearDown() override {
        for (pid_t pid : {openbox_, xvfb_}) {
            if (pid <= 0) continue;
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }

private:
    pid_t xvfb_ = 0;
    pid_t openbox_ = 0;
};

[[maybe_unused]] ::testing::Environment* const framedDisplay =
    ::testing::AddGlobalTestEnvironment(new FramedDisplay);

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

class WindowProcTest : public ::testing::Test {
protected:
    void SetUp() override {
        cwd_ = std::make_unique<testsupport::ScopedCurrentDirectory>(dir_.Path());
        ConfigFile = dir_.File("KORVAVorAdf.INI");
        Recreating = false;
        for (bool& k : KeyStates) k = false;
        WindowActive = true;
    }
    std::string Ini() { return testsupport::ReadWholeFile(ConfigFile); }

    testsupport::TempDir dir_;
    std::unique_ptr<testsupport::ScopedCurrentDirectory> cwd_;
};

TEST_F(WindowProcTest, KeysSetAndClearTheirFlagAndIgnoreCodesBeyondTheTable) {
    InstrumentWindowProc(nullptr, WM_KEYDOWN, VK_F1, 0);
    InstrumentWindowProc(nullptr, WM_KEYDOWN, VK_F1, 1 << 30);  // automatic repeat
    EXPECT_TRUE(KeyStates[VK_F1]);
    InstrumentWindowProc(nullptr, WM_KEYUP, VK_F1, 0);
    EXPECT_FALSE(KeyStates[VK_F1]);
    // A key-up with no key-down before it (a key pressed in another window) is harmless.
    InstrumentWindowProc(nullptr, WM_KEYUP, VK_F2, 0);
    EXPECT_FALSE(KeyStates[VK_F2]);
    InstrumentWindowProc(nullptr, WM_KEYDOWN, 256, 0);
    InstrumentWindowProc(nullptr, WM_KEYDOWN, 0x10000, 0);
    for (bool k : KeyStates) EXPECT_FALSE(k);
}

TEST_F(WindowProcTest, ActivationFollowsTheMinimisedFlagOnly) {
    InstrumentWindowProc(nullptr, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 0);
    EXPECT_TRUE(WindowActive);  // deactivated beside the simulator: keep drawing
    InstrumentWindowProc(nullptr, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0);
    EXPECT_FALSE(WindowActive);
    InstrumentWindowProc(nullptr, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 1), 0);
    EXPECT_FALSE(WindowActive);
    InstrumentWindowProc(nullptr, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
    EXPECT_TRUE(WindowActive);
}

TEST_F(WindowProcTest, CloseAsksTheLoopToQuit) {
    EXPECT_EQ(InstrumentWindowProc(nullptr, WM_CLOSE, 0, 0), 0);
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

// With a framed window made, as the program has one when the window procedure runs: the
// system metrics then answer the frame of a real window manager.
class FramedWindowProcTest : public WindowProcTest {
protected:
    void SetUp() override {
        WindowProcTest::SetUp();
        WNDCLASSA wc{};
        wc.lpfnWndProc = ProbeProc;
        wc.lpszClassName = "KorvaFrameProbe";
        ASSERT_NE(RegisterClassA(&wc), 0);
        probe_ = CreateWindowExA(0, "KorvaFrameProbe", "probe", WS_OVERLAPPEDWINDOW, 50, 50, 200, 150,
                                 nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(probe_, nullptr);
        frame_ = GetSystemMetrics(SM_CXFRAME);
        caption_ = GetSystemMetrics(SM_CYCAPTION);
        // Equal or zero metrics would let a frame counted once instead of twice, or a
        // caption left out, pass unnoticed.
        ASSERT_GT(frame_, 0);
        ASSERT_GT(caption_, frame_);
    }
    void TearDown() override {
        if (probe_) DestroyWindow(probe_);
        UnregisterClassA("KorvaFrameProbe", nullptr);
    }

    HWND probe_ = nullptr;
    int frame_ = 0;
    int caption_ = 0;
};

TEST_F(FramedWindowProcTest, MovesAndSizesAreStoredOnlyOutsideCreation) {
    Recreating = true;
    InstrumentWindowProc(nullptr, WM_MOVE, 0, MAKELPARAM(120, 80));
    InstrumentWindowProc(nullptr, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200));
    EXPECT_EQ(Ini(), "");

    Recreating = false;
    const int frame = frame_, caption = caption_;
    InstrumentWindowProc(nullptr, WM_MOVE, 0, MAKELPARAM(120 + frame, 80 + frame + caption));
    EXPECT_EQ(WindowX, 120);
    EXPECT_EQ(WindowY, 80);
    InstrumentWindowProc(nullptr, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200));
    // The outer size that gives back the same client area at the next creation.
    EXPECT_EQ(WindowWidth, 300 + 2 * frame);
    EXPECT_EQ(WindowHeight, 200 + 2 * frame + caption);
    EXPECT_EQ(ReadConfigEntry("WINDOW", "X", ""), std::to_string(120));
    EXPECT_EQ(ReadConfigEntry("WINSIZE", "HEIGHT", ""), std::to_string(200 + 2 * frame + caption));
}

TEST_F(FramedWindowProcTest, PositionsOffThePrimaryScreenAreStoredAsZero) {
    struct Case {
        int clientX, clientY;
    } cases[] = {{-20, 50}, {50, -300}, {-32000, -32000}, {40000, 10}};
    for (const Case& c : cases) {
        InstrumentWindowProc(nullptr, WM_MOVE, 0, MAKELPARAM(c.clientX, c.clientY));
        const int frame = frame_, caption = caption_;
        int wantX = c.clientX - frame < 0 || (c.clientX & 0xFFFF) - frame > 32768 ? 0 : c.clientX - frame;
        int wantY = c.clientY - frame - caption < 0 || (c.clientY & 0xFFFF) - frame - caption > 32768
                        ? 0
                        : c.clientY - frame - caption;
        EXPECT_EQ(WindowX, wantX) << c.clientX;
        EXPECT_EQ(WindowY, wantY) << c.clientY;
        EXPECT_GE(WindowX, 0);
        EXPECT_GE(WindowY, 0);
    }
}

TEST_F(WindowProcTest, AMinimisedWindowStoresNothing) {
    testsupport::WriteWholeFile(ConfigFile, "[WINDOW]\r\nX=10\r\nY=20\r\n[WINSIZE]\r\nWIDTH=333\r\nHEIGHT=222\r\n");
    std::string before = Ini();
    InstrumentWindowProc(nullptr, WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_EQ(Ini(), before);
}

TEST_F(WindowProcTest, AnUnwritableFileIsTheRuntimeError) {
    ConfigFile = dir_.Path();  // a folder cannot be written as a file
    try {
        InstrumentWindowProc(nullptr, WM_MOVE, 0, MAKELPARAM(100, 100));
        FAIL() << "no error";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir_.Path());
    }
}

TEST(KeyTable, KeysTheProgramUsesAndTheirNeighbours) {
    struct Case {
        int glfw, vk;
    } cases[] = {
        {GLFW_KEY_ESCAPE, 27}, {GLFW_KEY_F1, 112}, {GLFW_KEY_F2, 113},   {GLFW_KEY_F9, 120},
        {GLFW_KEY_F11, 122},   {GLFW_KEY_F12, 123}, {GLFW_KEY_LEFT, 37}, {GLFW_KEY_UP, 38},
        {GLFW_KEY_RIGHT, 39},  {GLFW_KEY_DOWN, 40}, {GLFW_KEY_A, 'A'},   {GLFW_KEY_Z, 'Z'},
        {GLFW_KEY_0, '0'},     {GLFW_KEY_9, '9'},   {GLFW_KEY_F24, 0x87}, {GLFW_KEY_KP_0, 0x60},
        {GLFW_KEY_LEFT_SHIFT, VK_SHIFT}, {GLFW_KEY_RIGHT_ALT, VK_MENU},   {GLFW_KEY_ENTER, VK_RETURN},
        {GLFW_KEY_UNKNOWN, 0}, {GLFW_KEY_LAST + 1, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(VirtualKeyFromGlfw(c.glfw), c.vk) << "GLFW key " << c.glfw;
    // No two GLFW keys of the main block give the same code, but for left/right modifiers
    // and the keypad's Enter and equals.
    int seen[256] = {};
    for (int k = GLFW_KEY_SPACE; k <= GLFW_KEY_LAST; ++k) {
        int vk = VirtualKeyFromGlfw(k);
        ASSERT_LT(vk, 256);
        if (vk) ++seen[vk];
    }
    for (int vk = 0; vk < 256; ++vk) {
        bool shared = vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU || vk == VK_RETURN || vk == VK_OEM_PLUS;
        if (!shared) {
            EXPECT_LE(seen[vk], 1) << "code " << vk;
        }
    }
}

}  // namespace

// The instrument's framed window, created at a stored outer placement, reports its client
// area to the window procedure, which stores it back: the same outer placement must come
// out, and the client area must be the outer size less two frames and the caption.
TEST(InstrumentWindowLifetime, AFramedWindowStoresThePlacementItWasCreatedAt) {
    testsupport::TempDir dir;
    testsupport::ScopedCurrentDirectory cwd(testsupport::RunDir());
    ConfigFile = dir.File("KORVAVorAdf.INI");
    NetworkMode = false;
    Recreating = false;
    WindowX = 100;
    WindowY = 80;
    ASSERT_TRUE(CreateInstrumentWindow(titles::Fsuipc, 400, 300, 32, false));
    const int frame = GetSystemMetrics(SM_CXFRAME), caption = GetSystemMetrics(SM_CYCAPTION);
    int clientWidth = 0, clientHeight = 0;
    glfwGetWindowSize(glfwGetCurrentContext(), &clientWidth, &clientHeight);
    DestroyInstrumentWindow();
    ASSERT_GT(frame, 0);
    ASSERT_GT(caption, frame);
    EXPECT_EQ(clientWidth, 400 - 2 * frame);
    EXPECT_EQ(clientHeight, 300 - 2 * frame - caption);
    EXPECT_EQ(ReadConfigEntry("WINDOW", "X", ""), "100");
    EXPECT_EQ(ReadConfigEntry("WINDOW", "Y", ""), "80");
    EXPECT_EQ(ReadConfigEntry("WINSIZE", "WIDTH", ""), "400");
    EXPECT_EQ(ReadConfigEntry("WINSIZE", "HEIGHT", ""), "300");
}

// Every window creation loads the icon anew; a move step must not keep the old one.
TEST(InstrumentWindowLifetime, RepeatedCreationsKeepOneIcon) {
    testsupport::TempDir dir;
    testsupport::ScopedCurrentDirectory cwd(testsupport::RunDir());
    ConfigFile = dir.File("KORVAVorAdf.INI");
    NetworkMode = false;
    std::size_t before = PosixLiveIconCount();
    Recreating = true;
    ASSERT_TRUE(CreateInstrumentWindow(titles::Fsuipc, 200, 200, 32, true));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(RecreateWindow(titles::Fsuipc));
    EXPECT_EQ(PosixLiveIconCount(), before + 1);
    DestroyInstrumentWindow();
    EXPECT_EQ(PosixLiveIconCount(), before);
    Recreating = false;
}
