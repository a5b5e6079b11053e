// The stand-in's end of the FSUIPC link: it serves the "window" of a class, to which the
// instrument sends its messages. posix_link_server.cpp serves the local transport on Linux
// (docs/link-transport.md describes the bytes); win32_link_server.cpp makes a real window of
// the class on Windows. The instrument never serves, so this lives with the stand-in.
#pragma once

#include "platform/WinTypes.h"

#include <functional>
#include <memory>
#include <string>

// One message as the serving process receives it.
struct LinkRequest {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD senderPid = 0;
    DWORD timeoutMs = 0;
};

// Serves the "window" of one class: one request at a time, answered by a handler.
// Single-threaded by design: one thread calls Listen, then ServeOne in a loop, then Close.
class LinkServer {
public:
    // Returns true with the answer to send, or false to leave the sender waiting until it
    // gives up (a hung window, as far as the sender can tell).
    using Handler = std::function<bool(const LinkRequest& request, DWORD& answer)>;

    LinkServer();
    ~LinkServer();
    LinkServer(const LinkServer&) = delete;
    LinkServer& operator=(const LinkServer&) = delete;

    // Takes over the class. Fails while another live process serves it; on Linux a socket
    // left by a crashed server is replaced.
    bool Listen(const char* className, std::string& error);
    // Waits up to timeoutMs for one request and answers it. True when a request was handed
    // to the handler. Requests whose sender has already given up are dropped unanswered.
    bool ServeOne(int timeoutMs, const Handler& handler);
    void Close();

private:
    struct Transport;  // what each platform's serving end keeps
    std::unique_ptr<Transport> transport_;
};
