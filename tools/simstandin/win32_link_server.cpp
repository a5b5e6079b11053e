// The stand-in's end of the link on Windows: a real top-level window of the simulator's class
// (never shown), whose procedure answers the registered messages the instrument sends with
// SendMessageTimeoutA. Windows delivers a message sent from another process only while the
// window's own thread waits for messages, so the thread that calls Listen must be the one
// that calls ServeOne and Close.
// What knowingly differs from the Linux end: a request the handler leaves unanswered holds
// the window procedure for HoldMs (longer than the instrument's 2 s time-out), since a
// window cannot leave one sender waiting while it serves the next.
#include "LinkServer.h"

#include "platform/Window.h"

#include <chrono>
#include <thread>

namespace {

constexpr DWORD HoldMs = 2500;
// Registered messages are numbered from here; everything below is the system's.
constexpr UINT FirstRegisteredMessage = 0xC000;

}  // namespace

struct LinkServer::Transport {
    std::string className;
    HWND window = nullptr;
    bool registered = false;
    const Handler* handler = nullptr;  // set while ServeOne runs
    bool served = false;

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

LRESULT CALLBACK LinkServer::Transport::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* t = reinterpret_cast<Transport*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!t || !t->handler || message < FirstRegisteredMessage || message > 0xFFFF)
        return DefWindowProcA(window, message, wParam, lParam);
    LinkRequest request;
    request.message = message;
    request.wParam = wParam;
    request.lParam = lParam;
    DWORD answer = 0;
    t->served = true;
    if (!(*t->handler)(request, answer)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(HoldMs));
        return 0;
    }
    return static_cast<LRESULT>(answer);
}

LinkServer::LinkServer() : transport_(std::make_unique<Transport>()) {}

LinkServer::~LinkServer() {
    Close();
}

bool LinkServer::Listen(const char* className, std::string& error) {
    Close();
    Transport& t = *transport_;
    if (FindWindowExA(nullptr, nullptr, className, nullptr)) {
        error = std::string("another process already serves ") + className;
        return false;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = &Transport::Procedure;
    wc.hInstance = instance;
    wc.lpszClassName = className;
    if (!RegisterClassA(&wc)) {
        error = std::string("cannot register the window class ") + className + " (error " +
                std::to_string(GetLastError()) + ")";
        return false;
    }
    t.registered = true;
    t.className = className;
    // A top-level window: message-only windows are not found by FindWindowExA.
    t.window = CreateWindowExA(0, className, className, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, instance,
                               nullptr);
    if (!t.window) {
        error = std::string("cannot create the window of class ") + className + " (error " +
                std::to_string(GetLastError()) + ")";
        Close();
        return false;
    }
    SetWindowLongPtrA(t.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&t));
    return true;
}

bool LinkServer::ServeOne(int timeoutMs, const Handler& handler) {
    Transport& t = *transport_;
    if (!t.window) return false;
    t.handler = &handler;
    t.served = false;
    // Sent messages are delivered inside the wait and inside PeekMessage.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs), QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    t.handler = nullptr;
    return t.served;
}

void LinkServer::Close() {
    if (!transport_) return;
    Transport& t = *transport_;
    if (t.window) {
        DestroyWindow(t.window);
        t.window = nullptr;
    }
    if (t.registered) {
        UnregisterClassA(t.className.c_str(), GetModuleHandleA(nullptr));
        t.registered = false;
    }
}
