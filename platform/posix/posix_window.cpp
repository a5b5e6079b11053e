// posix backend: user32/gdi32/WGL's window, message queue and OpenGL context, on GLFW 3 under
// an X server (a window manager publishing _NET_FRAME_EXTENTS, like openbox, gives the frame).
// Knowingly different from Windows: the pixel format is fixed when the window is made; the
// outer size counts two side frames and the caption (not the real bottom border); messages
// Windows sends from inside a call go to the window procedure at once, all others are queued.
#include "platform/Window.h"
#include "platform/System.h"
#include "platform/posix/posix_common.h"
#include "platform/posix/posix_icon.h"
#include "platform/posix/posix_window_keys.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace {

struct PosixWindow;

// What wglCreateContext hands out: the context that GLFW made with the window.
struct PosixContext {
    PosixWindow* window;
};

struct PosixWindow {
    GLFWwindow* glfw = nullptr;
    WNDPROC proc = nullptr;
    std::string title;
    bool framed = false;
    int frameLeft = 0, frameTop = 0, frameRight = 0, frameBottom = 0;
    int targetClientX = 0, targetClientY = 0;
    // The client placement last reported to the window procedure.
    int reportedX = 0, reportedY = 0, reportedWidth = 0, reportedHeight = 0;
    bool iconified = false;
    // After a restore the window manager may show the window at passing places (openbox
    // animates it); its place is taken again only once this time has passed.
    std::chrono::steady_clock::time_point settleUntil{};
    bool resyncPending = false;
    int savedWidth = 0, savedHeight = 0;
    bool focused = false;
    bool shown = false;
    PosixContext* context = nullptr;
};

struct RegisteredClass {
    WNDCLASSA wc{};
    std::string name;
    ATOM atom = 0;
};

struct Backend {
    bool glfwReady = false;
    bool glfwFailed = false;
    std::map<std::string, RegisteredClass> classes;  // by ClassKey
    ATOM nextAtom = 0xC001;
    std::vector<PosixWindow*> windows;
    std::deque<MSG> queue;
    int sending = 0;  // > 0 while inside a call that sends its messages at once
    bool quitPosted = false;
    int quitCode = 0;
    // Metrics of the window most recently created, for GetSystemMetrics.
    int cxFrame = 0, cyCaption = 0, cyFrame = 0;
};

Backend& State() {
    static Backend backend;
    return backend;
}

// Class names compare without regard to case; the classes are kept by the upper-cased name.
std::string ClassKey(const char* name) {
    return posixcommon::ToUpperAscii(name ? name : "");
}

bool EnsureGlfw() {
    Backend& b = State();
    if (b.glfwReady) return true;
    if (b.glfwFailed) return false;
    glfwSetErrorCallback([](int, const char*) {});
    if (!glfwInit()) {
        b.glfwFailed = true;
        return false;
    }
    b.glfwReady = true;
    return true;
}

PosixWindow* Find(HWND handle) {
    Backend& b = State();
    auto it = std::find(b.windows.begin(), b.windows.end(), static_cast<PosixWindow*>(handle));
    return it == b.windows.end() ? nullptr : *it;
}

PosixWindow* FromGlfw(GLFWwindow* glfw) {
    return static_cast<PosixWindow*>(glfwGetWindowUserPointer(glfw));
}

// Sends (inside creation, showing and destruction) or posts a message to a window.
void Deliver(PosixWindow* w, UINT message, WPARAM wParam, LPARAM lParam) {
    Backend& b = State();
    if (b.sending > 0) {
        if (w->proc) w->proc(w, message, wParam, lParam);
        return;
    }
    MSG msg{};
    msg.hwnd = w;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    b.queue.push_back(msg);
}

void ReportMove(PosixWindow* w, int x, int y, bool always) {
    if (!always && x == w->reportedX && y == w->reportedY) return;
    w->reportedX = x;
    w->reportedY = y;
    Deliver(w, WM_MOVE, 0, MAKELPARAM(x, y));
}

void ReportSize(PosixWindow* w, int width, int height, bool always) {
    if (!always && width == w->reportedWidth && height == w->reportedHeight) return;
    w->reportedWidth = width;
    w->reportedHeight = height;
    Deliver(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
}

void OnKey(GLFWwindow* glfw, int key, int, int action, int mods) {
    PosixWindow* w = FromGlfw(glfw);
    if (!w) return;
    int vk = VirtualKeyFromGlfw(key);
    if (vk == 0) return;
    // Like Windows: with Alt held, and for F10 and Alt itself, keys are system keys.
    bool system = (mods & GLFW_MOD_ALT) || vk == VK_MENU || vk == VK_F10;
    LPARAM flags = 1;  // repeat count
    UINT message;
    if (action == GLFW_RELEASE) {
        message = system ? WM_SYSKEYUP : WM_KEYUP;
        flags |= (LPARAM(1) << 30) | (LPARAM(1) << 31);
    } else {
        message = system ? WM_SYSKEYDOWN : WM_KEYDOWN;
        if (action == GLFW_REPEAT) flags |= LPARAM(1) << 30;
    }
    if (mods & GLFW_MOD_ALT) flags |= LPARAM(1) << 29;
    Deliver(w, message, static_cast<WPARAM>(vk), flags);
}

bool Settling(PosixWindow* w) {
    if (!w->resyncPending) return false;
    return std::chrono::steady_clock::now() < w->settleUntil;
}

void OnPos(GLFWwindow* glfw, int x, int y) {
    PosixWindow* w = FromGlfw(glfw);
    if (!w || w->iconified || Settling(w)) return;
    ReportMove(w, x, y, false);
}

void OnSize(GLFWwindow* glfw, int width, int height) {
    PosixWindow* w = FromGlfw(glfw);
    if (!w || w->iconified || Settling(w)) return;
    ReportSize(w, width, height, false);
}

// Once a restored window has settled, reports where it really stands.
void ResyncSettled() {
    for (PosixWindow* w : State().windows) {
        if (!w->resyncPending || w->iconified || Settling(w)) continue;
        w->resyncPending = false;
        int x, y, width, height;
        glfwGetWindowPos(w->glfw, &x, &y);
        glfwGetWindowSize(w->glfw, &width, &height);
        ReportSize(w, width, height, false);
        ReportMove(w, x, y, false);
    }
}

void OnFocus(GLFWwindow* glfw, int focused) {
    PosixWindow* w = FromGlfw(glfw);
    if (!w) return;
    w->focused = focused != 0;
    Deliver(w, WM_ACTIVATE, MAKEWPARAM(focused ? WA_ACTIVE : WA_INACTIVE, w->iconified ? 1 : 0), 0);
}

void OnIconify(GLFWwindow* glfw, int iconified) {
    PosixWindow* w = FromGlfw(glfw);
    if (!w || w->iconified == (iconified != 0)) return;
    if (iconified) {
        // What Windows reports for a minimised window: inactive and minimised, moved far
        // off the screen, and sized 0 by 0.
        w->iconified = true;
        w->savedWidth = w->reportedWidth;
        w->savedHeight = w->reportedHeight;
        Deliver(w, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0);
        w->reportedX = w->reportedY = -32000;
        Deliver(w, WM_MOVE, 0, MAKELPARAM(-32000, -32000));
        w->reportedWidth = w->reportedHeight = 0;
        Deliver(w, WM_SIZE, SIZE_MINIMIZED, 0);
    } else {
        // The size it had before, at once, so that the next frame has its viewport; the
        // place once the window manager has put the window back.
        w->iconified = false;
        w->resyncPending = true;
        w->settleUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
        ReportSize(w, w->savedWidth, w->savedHeight, true);
        Deliver(w, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
    }
}

void OnClose(GLFWwindow* glfw) {
    PosixWindow* w = FromGlfw(glfw);
    glfwSetWindowShouldClose(glfw, GLFW_FALSE);
    if (w) Deliver(w, WM_SYSCOMMAND, SC_CLOSE, 0);
}

// Lets the window system answer for a while, sending what arrives to the window procedure.
template <typename Done>
void PumpUntil(double seconds, Done done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) break;
        glfwWaitEventsTimeout(0.01);
    }
}

// Windows sends (does not post) the messages of CreateWindowExA, ShowWindow and DestroyWindow
// from inside those calls; while a scope lives, Deliver does the same.
class SendScope {
public:
    SendScope() { ++State().sending; }
    ~SendScope() { --State().sending; }
};

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    Backend& b = State();
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string key = ClassKey(windowClass->lpszClassName);
    if (b.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    RegisteredClass rc;
    rc.wc = *windowClass;
    rc.name = windowClass->lpszClassName;
    rc.wc.lpszClassName = nullptr;  // the copy keeps its own name
    rc.wc.lpszMenuName = nullptr;
    rc.atom = b.nextAtom++;
    ATOM atom = rc.atom;
    b.classes[key] = rc;
    return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
    Backend& b = State();
    auto it = b.classes.find(ClassKey(className));
    if (it == b.classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    b.classes.erase(it);
    return TRUE;
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width,
                     int height, HWND, HMENU, HINSTANCE, LPVOID) {
    Backend& b = State();
    auto cls = b.classes.find(ClassKey(className));
    if (cls == b.classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return nullptr;
    }
    if (!EnsureGlfw()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    bool framed = !(style & WS_POPUP) && (style & WS_CAPTION);

    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_DECORATED, framed ? GLFW_TRUE : GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, (style & WS_THICKFRAME) ? GLFW_TRUE : GLFW_FALSE);
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_DEPTH_BITS, 24);
    glfwWindowHint(GLFW_FOCUS_ON_SHOW, GLFW_TRUE);
    glfwWindowHint(GLFW_AUTO_ICONIFY, GLFW_FALSE);

    auto* w = new PosixWindow;
    w->proc = cls->second.wc.lpfnWndProc;
    w->title = title ? title : "";
    w->framed = framed;
    w->glfw = glfwCreateWindow(std::max(1, width), std::max(1, height), w->title.c_str(), nullptr, nullptr);
    if (!w->glfw) {
        delete w;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    glfwSetWindowUserPointer(w->glfw, w);
    b.windows.push_back(w);

    // The outer size is the client size plus two side frames plus the caption, taken from
    // SM_CXFRAME/SM_CYCAPTION as answered here (left frame, top frame less left frame), so a
    // size stored from those metrics gives back the same client area even when the window
    // manager's bottom border is thicker than its sides.
    if (framed) glfwGetWindowFrameSize(w->glfw, &w->frameLeft, &w->frameTop, &w->frameRight, &w->frameBottom);
    b.cxFrame = w->frameLeft;
    b.cyFrame = w->frameBottom;
    b.cyCaption = std::max(0, w->frameTop - w->frameLeft);

    int clientWidth = std::max(1, width - 2 * b.cxFrame);
    int clientHeight = std::max(1, height - 2 * b.cxFrame - b.cyCaption);
    w->targetClientX = x + w->frameLeft;
    w->targetClientY = y + w->frameTop;
    glfwSetWindowSize(w->glfw, clientWidth, clientHeight);
    glfwSetWindowPos(w->glfw, w->targetClientX, w->targetClientY);

    if (HICON icon = cls->second.wc.hIcon) {
        int iw = 0, ih = 0;
        const unsigned char* rgba = nullptr;
        if (PosixIconPixels(icon, iw, ih, rgba)) {
            GLFWimage image{iw, ih, const_cast<unsigned char*>(rgba)};
            glfwSetWindowIcon(w->glfw, 1, &image);
        }
    }

    glfwSetKeyCallback(w->glfw, OnKey);
    glfwSetWindowPosCallback(w->glfw, OnPos);
    glfwSetWindowSizeCallback(w->glfw, OnSize);
    glfwSetWindowFocusCallback(w->glfw, OnFocus);
    glfwSetWindowIconifyCallback(w->glfw, OnIconify);
    glfwSetWindowCloseCallback(w->glfw, OnClose);

    // Windows sends the new window its size and position from inside the creation.
    SendScope sending;
    if (w->proc) w->proc(w, WM_CREATE, 0, 0);
    ReportSize(w, clientWidth, clientHeight, true);
    ReportMove(w, w->targetClientX, w->targetClientY, true);
    return w;
}

BOOL DestroyWindow(HWND handle) {
    Backend& b = State();
    PosixWindow* w = Find(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    {
        SendScope sending;
        if (w->proc) w->proc(w, WM_DESTROY, 0, 0);
    }
    if (w->context) w->context->window = nullptr;
    if (glfwGetCurrentContext() == w->glfw) glfwMakeContextCurrent(nullptr);
    glfwDestroyWindow(w->glfw);
    b.windows.erase(std::find(b.windows.begin(), b.windows.end(), w));
    b.queue.erase(std::remove_if(b.queue.begin(), b.queue.end(),
                                 [w](const MSG& m) { return m.hwnd == w; }),
                  b.queue.end());
    delete w;
    return TRUE;
}

BOOL ShowWindow(HWND handle, int command) {
    PosixWindow* w = Find(handle);
    if (!w) return FALSE;
    bool wasVisible = w->shown;
    if (command == SW_HIDE) {
        glfwHideWindow(w->glfw);
        w->shown = false;
        return wasVisible;
    }
    SendScope sending;
    glfwShowWindow(w->glfw);
    w->shown = true;
    // A window manager may place a new window where it likes (openbox centres it); put it
    // back where it was asked to stand and wait until the server says it is there.
    auto placed = [w] {
        int x, y;
        glfwGetWindowPos(w->glfw, &x, &y);
        return glfwGetWindowAttrib(w->glfw, GLFW_VISIBLE) && x == w->targetClientX && y == w->targetClientY;
    };
    for (int attempt = 0; attempt < 3 && !placed(); ++attempt) {
        PumpUntil(0.15, placed);
        if (!placed()) glfwSetWindowPos(w->glfw, w->targetClientX, w->targetClientY);
    }
    // Take what has already arrived (the first focus and exposure) while still sending.
    glfwPollEvents();
    if (!wasVisible) {
        // The first showing tells the window its client size and place again, now that its
        // rendering context may be current.
        int x, y, width, height;
        glfwGetWindowPos(w->glfw, &x, &y);
        glfwGetWindowSize(w->glfw, &width, &height);
        ReportSize(w, width, height, true);
        ReportMove(w, x, y, true);
    }
    return wasVisible;
}

BOOL SetForegroundWindow(HWND handle) {
    PosixWindow* w = Find(handle);
    if (!w) return FALSE;
    SendScope sending;
    glfwFocusWindow(w->glfw);
    PumpUntil(0.1, [w] { return w->focused; });
    return TRUE;
}

HWND SetFocus(HWND handle) {
    PosixWindow* w = Find(handle);
    if (!w) return nullptr;
    return w;
}

BOOL SetWindowTextA(HWND handle, LPCSTR text) {
    PosixWindow* w = Find(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->title = text ? text : "";
    glfwSetWindowTitle(w->glfw, w->title.c_str());
    return TRUE;
}

int GetWindowTextA(HWND handle, LPSTR buffer, int size) {
    PosixWindow* w = Find(handle);
    if (!w || !buffer || size <= 0) return 0;
    int length = static_cast<int>(std::min<std::size_t>(w->title.size(), static_cast<std::size_t>(size - 1)));
    std::memcpy(buffer, w->title.data(), static_cast<std::size_t>(length));
    buffer[length] = '\0';
    return length;
}

BOOL IsIconic(HWND handle) {
    PosixWindow* w = Find(handle);
    return w && w->iconified;
}

HDC GetDC(HWND handle) {
    // Every window here has its own device context, which stands for the window itself.
    return Find(handle) ? handle : nullptr;
}

int ReleaseDC(HWND handle, HDC dc) {
    return (Find(handle) && dc == handle) ? 1 : 0;
}

// The context comes with the window (GLFW), so the pixel format is fixed at creation; these
// two only check the request.
int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* pfd) {
    if (!Find(dc) || !pfd) return 0;
    DWORD needed = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
    if ((pfd->dwFlags & needed) != needed || pfd->iPixelType != PFD_TYPE_RGBA) return 0;
    return 1;  // the double-buffered RGBA format with depth buffer the window was made with
}

BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR*) {
    return (Find(dc) && format == 1) ? TRUE : FALSE;
}

BOOL SwapBuffers(HDC dc) {
    PosixWindow* w = Find(dc);
    if (!w) return FALSE;
    glfwSwapBuffers(w->glfw);
    return TRUE;
}

HGLRC wglCreateContext(HDC dc) {
    PosixWindow* w = Find(dc);
    if (!w || w->context) return nullptr;
    w->context = new PosixContext{w};
    return w->context;
}

BOOL wglMakeCurrent(HDC dc, HGLRC rc) {
    if (!rc) {
        if (State().glfwReady) glfwMakeContextCurrent(nullptr);
        return TRUE;
    }
    auto* context = static_cast<PosixContext*>(rc);
    PosixWindow* w = Find(dc);
    if (!w || w->context != context || !context->window) return FALSE;
    glfwMakeContextCurrent(w->glfw);
    return glfwGetCurrentContext() == w->glfw ? TRUE : FALSE;
}

BOOL wglDeleteContext(HGLRC rc) {
    if (!rc) return FALSE;
    auto* context = static_cast<PosixContext*>(rc);
    if (PosixWindow* w = context->window) {
        if (glfwGetCurrentContext() == w->glfw) glfwMakeContextCurrent(nullptr);
        w->context = nullptr;
    }
    delete context;
    return TRUE;
}

LRESULT DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM) {
    PosixWindow* w = Find(handle);
    if (!w) return 0;
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            SendScope sending;
            if (w->proc) w->proc(w, WM_CLOSE, 0, 0);
        } else if ((wParam & 0xFFF0) == SC_MINIMIZE) {
            glfwIconifyWindow(w->glfw);
        } else if ((wParam & 0xFFF0) == SC_RESTORE) {
            glfwRestoreWindow(w->glfw);
        }
        return 0;
    case WM_SYSKEYDOWN:
        // Alt+F4 is the system menu's close command.
        if (wParam == VK_F4) {
            SendScope sending;
            if (w->proc) w->proc(w, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return 0;
    case WM_CLOSE:
        DestroyWindow(handle);
        return 0;
    default:
        return 0;
    }
}

void PostQuitMessage(int exitCode) {
    State().quitPosted = true;
    State().quitCode = exitCode;
}

BOOL PeekMessageA(MSG* message, HWND, UINT, UINT, UINT remove) {
    Backend& b = State();
    if (b.queue.empty() && b.glfwReady && !b.windows.empty()) {
        glfwPollEvents();
        ResyncSettled();
    }
    if (!b.queue.empty()) {
        *message = b.queue.front();
        if (remove & PM_REMOVE) b.queue.pop_front();
        return TRUE;
    }
    if (b.quitPosted) {
        MSG quit{};
        quit.message = WM_QUIT;
        quit.wParam = static_cast<WPARAM>(b.quitCode);
        *message = quit;
        if (remove & PM_REMOVE) b.quitPosted = false;
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;  // the instrument reads key codes only, never characters
}

LRESULT DispatchMessageA(const MSG* message) {
    if (!message) return 0;
    PosixWindow* w = Find(message->hwnd);
    if (!w || !w->proc) return 0;
    return w->proc(w, message->message, message->wParam, message->lParam);
}

int GetSystemMetrics(int index) {
    Backend& b = State();
    switch (index) {
    case SM_CXFRAME:
        return b.cxFrame;
    case SM_CYFRAME:
        return b.cyFrame;
    case SM_CYCAPTION:
        return b.cyCaption;
    case SM_CXSCREEN:
    case SM_CYSCREEN: {
        if (!EnsureGlfw()) return 0;
        GLFWmonitor* monitor = glfwGetPrimaryMonitor();
        const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
        if (!mode) return 0;
        return index == SM_CXSCREEN ? mode->width : mode->height;
    }
    default:
        return 0;
    }
}

HMODULE GetModuleHandleA(LPCSTR) {
    static char module;
    return &module;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR) {
    static char arrow;
    return &arrow;  // GLFW windows show the standard arrow already
}
