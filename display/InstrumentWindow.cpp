// The instrument window: creation with its OpenGL context, teardown, viewport, scene
// initialisation and the window procedure. Window and context calls go through the
// platform seam in the Windows vocabulary.
// Differs from a naive reading on purpose: a minimised window's placement is never stored
// (the 0x0 size and the far-off position would otherwise overwrite the user's), and a
// stored size adds the frame on both sides so that it gives back the same client area.
#include "display/InstrumentWindow.h"

#include "base/Configuration.h"
#include "base/InstrumentState.h"
#include "display/InstrumentGeometry.h"
#include "display/Textures.h"
#include "net/KvTcpIpcUdp.h"
#include "net/ValueRequest.h"
#include "platform/OpenGL.h"
#include "platform/System.h"
#include "platform/Window.h"

HWND WindowHandle = nullptr;
HDC DeviceContext = nullptr;
HGLRC RenderingContext = nullptr;
bool KeyStates[256] = {};
bool WindowActive = true;

namespace {

// The icon loaded for the current window class; freed with the class.
HICON ClassIcon = nullptr;

HINSTANCE ModuleInstance() {
    return GetModuleHandleA(nullptr);
}

void ShowError(const char* text, const char* caption, UINT icon) {
    MessageBoxA(nullptr, text, caption, MB_OK | icon);
}

// Fails a creation step: releases what exists, then tells the user why.
bool FailCreation(const char* text) {
    DestroyInstrumentWindow();
    ShowError(text, windowtexts::ErrorCaption, MB_ICONEXCLAMATION);
    return false;
}

// The client area's position in the words of a move message, back to the outer corner.
void StorePosition(LPARAM lParam) {
    int frame = GetSystemMetrics(SM_CXFRAME);
    int caption = GetSystemMetrics(SM_CYCAPTION);
    int x = static_cast<int>(LOWORD(lParam)) - frame;
    int y = static_cast<int>(HIWORD(lParam)) - frame - caption;
    if (x < 0 || x > 32768) x = 0;
    if (y < 0 || y > 32768) y = 0;
    WriteConfigInteger(config::SectionWindow, config::KeyX, x);
    WriteConfigInteger(config::SectionWindow, config::KeyY, y);
    ReadPlacement();
}

// The client size in the words of a size message, back to the outer size.
void StoreSize(LPARAM lParam) {
    int frame = GetSystemMetrics(SM_CXFRAME);
    int caption = GetSystemMetrics(SM_CYCAPTION);
    WriteConfigInteger(config::SectionSize, config::KeyWidth, static_cast<long long>(LOWORD(lParam)) + 2 * frame);
    WriteConfigInteger(config::SectionSize, config::KeyHeight,
                       static_cast<long long>(HIWORD(lParam)) + 2 * frame + caption);
    ReadPlacement();
}

}  // namespace

void ResizeScene(int width, int height) {
    if (height == 0) height = 1;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(geometry::FieldOfView, static_cast<double>(width) / static_cast<double>(height), geometry::NearPlane,
                   geometry::FarPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

bool InitScene() {
    if (NetworkMode) {
        TcpClient = new TKvTcpBlockClient();
        TcpClient->SetServerPort(ServerPort);
        TcpClient->SetServerAddress(ServerAddress);
        TcpClient->Connect();
        if (!TcpClient->Connected()) SetWindowTextA(WindowHandle, titles::NotConnected);
    }
    if (!LoadTextures()) return false;
    MakeFontLists();
    SetSceneState();
    return true;
}

void SetSceneState() {
    glEnable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}

void DestroyInstrumentWindow() {
    if (RenderingContext) {
        if (!wglMakeCurrent(DeviceContext, nullptr))
            ShowError(windowtexts::ReleaseDcRcFailed, windowtexts::ShutdownCaption, MB_ICONERROR);
        if (!wglDeleteContext(RenderingContext))
            ShowError(windowtexts::ReleaseRcFailed, windowtexts::ShutdownCaption, MB_ICONERROR);
        RenderingContext = nullptr;
    }
    if (DeviceContext) {
        if (ReleaseDC(WindowHandle, DeviceContext) == 0)
            ShowError(windowtexts::ReleaseDcFailed, windowtexts::ShutdownCaption, MB_ICONERROR);
        DeviceContext = nullptr;
    }
    if (WindowHandle) {
        if (!DestroyWindow(WindowHandle))
            ShowError(windowtexts::ReleaseWindowFailed, windowtexts::ShutdownCaption, MB_ICONERROR);
        WindowHandle = nullptr;
    }
    if (!UnregisterClassA(windowtexts::ClassNameForUnregister, ModuleInstance()))
        ShowError(windowtexts::UnregisterFailed, windowtexts::UnregisterCaption, MB_ICONINFORMATION);
    // Every creation loads the icon anew; without this each move step would keep one more.
    if (ClassIcon) {
        DestroyIcon(ClassIcon);
        ClassIcon = nullptr;
    }
    // A client that is not connected is freed too: nothing uses it once the window is gone,
    // and the next creation makes a new one.
    if (NetworkMode && TcpClient) {
        delete TcpClient;
        TcpClient = nullptr;
    }
}

bool CreateInstrumentWindow(const char* title, int width, int height, int colorBits, bool borderless) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    wc.lpfnWndProc = InstrumentWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = ModuleInstance();
    if (ClassIcon) DestroyIcon(ClassIcon);
    ClassIcon = static_cast<HICON>(LoadImageA(nullptr, IconFile, IMAGE_ICON, 0, 0,
                                              LR_LOADFROMFILE | LR_DEFAULTSIZE));
    wc.hIcon = ClassIcon;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = windowtexts::ClassName;
    if (!RegisterClassA(&wc)) {
        ShowError(windowtexts::RegisterFailed, windowtexts::ErrorCaption, MB_ICONERROR);
        return false;
    }

    DWORD exStyle;
    DWORD style;
    if (borderless) {
        exStyle = WS_EX_APPWINDOW;
        style = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    } else {
        exStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
        style = WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    }

    WindowHandle = CreateWindowExA(exStyle, windowtexts::ClassName, title, style, WindowX, WindowY, width,
                                   height, nullptr, nullptr, ModuleInstance(), nullptr);
    if (!WindowHandle) return FailCreation(windowtexts::CreateFailed);

    DeviceContext = GetDC(WindowHandle);
    if (!DeviceContext) return FailCreation(windowtexts::NoDeviceContext);

    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = static_cast<BYTE>(colorBits);
    pfd.cDepthBits = 32;
    pfd.iLayerType = PFD_MAIN_PLANE;
    int format = ChoosePixelFormat(DeviceContext, &pfd);
    if (format == 0) return FailCreation(windowtexts::NoPixelFormat);
    if (!SetPixelFormat(DeviceContext, format, &pfd)) return FailCreation(windowtexts::SetPixelFormatFailed);

    RenderingContext = wglCreateContext(DeviceContext);
    if (!RenderingContext) return FailCreation(windowtexts::NoRenderingContext);
    if (!wglMakeCurrent(DeviceContext, RenderingContext)) return FailCreation(windowtexts::ActivateFailed);

    ShowWindow(WindowHandle, SW_SHOW);
    SetForegroundWindow(WindowHandle);
    SetFocus(WindowHandle);

    if (borderless) ResizeScene(width, height);

    if (!InitScene()) return FailCreation(windowtexts::InitFailed);
    return true;
}

LRESULT CALLBACK InstrumentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SYSCOMMAND:
        if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) return 0;
        break;
    case WM_ACTIVATE:
        WindowActive = HIWORD(wParam) == 0;
        return 0;
    case WM_CLOSE:
        PostQuitMessage(0);
        return 0;
    case WM_KEYDOWN:
        if (wParam < 256) KeyStates[wParam] = true;
        return 0;
    case WM_KEYUP:
        if (wParam < 256) KeyStates[wParam] = false;
        return 0;
    case WM_MOVE:
        if (!Recreating && !IsIconic(window)) StorePosition(lParam);
        return 0;
    case WM_SIZE:
        ResizeScene(LOWORD(lParam), HIWORD(lParam));
        if (!Recreating && wParam != SIZE_MINIMIZED && !IsIconic(window)) StoreSize(lParam);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
