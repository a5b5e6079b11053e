// The serving end of the link's local transport on Linux, for the simulator stand-in, and
// the transport facts both ends share (the per-user folder, object names, the wire format).
// The byte-level description for other implementers is docs/link-transport.md.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace linktransport {

// Request: 32 bytes, reply: 8 bytes, all fields little-endian.
inline constexpr std::uint32_t RequestMagic = 0x4D4C564B;  // "KVLM"
inline constexpr std::uint32_t ReplyMagic = 0x414C564B;    // "KVLA"
inline constexpr std::size_t RequestSize = 32;
inline constexpr std::size_t ReplySize = 8;

// Shared-memory objects start with one header page; the caller's bytes follow it.
inline constexpr std::uint32_t MappingMagic = 0x4D48534B;  // "KSHM"
inline constexpr std::size_t MappingHeaderSize = 4096;

// The per-user folder of sockets, lock files and the atom table: KORVA_LINK_DIR if set,
// else $XDG_RUNTIME_DIR/korva-link, else /tmp/korva-link-<uid>. Created with mode 0700 if
// missing; refused (false, last error ERROR_ACCESS_DENIED) unless it is a real folder owned
// by this user that nobody else may enter.
bool LinkDirectory(std::string& folder);

// Keeps letters, digits and ". _ - :"; every other byte becomes %XX (upper-case hex).
std::string EscapeName(const std::string& name);

// Socket and lock file of the "window" of a class (class names compare upper-cased).
std::string WindowSocketPath(const std::string& folder, const char* className);
std::string WindowLockPath(const std::string& folder, const char* className);

// Whether the process that wrote (pid, start time) still runs. A start time of 0 means
// "unknown" and checks the pid only.
std::uint64_t ProcessStartTime(std::uint32_t pid);
bool ProcessAlive(std::uint32_t pid, std::uint64_t startTime);

inline void PutLe32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline void PutLe64(unsigned char* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline std::uint32_t GetLe32(const unsigned char* at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}
inline std::uint64_t GetLe64(const unsigned char* at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

}  // namespace linktransport

// One message as the serving process receives it.
struct LinkRequest {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD senderPid = 0;
    DWORD timeoutMs = 0;
};

// Serves the "window" of one class: one request per connection, answered by a handler.
// Single-threaded by design: one thread calls ServeOne in a loop.
class LinkServer {
public:
    // Returns true with the answer to send, or false to leave the sender waiting until it
    // gives up (a hung window, as far as the sender can tell).
    using Handler = std::function<bool(const LinkRequest& request, DWORD& answer)>;

    LinkServer() = default;
    ~LinkServer();
    LinkServer(const LinkServer&) = delete;
    LinkServer& operator=(const LinkServer&) = delete;

    // Takes over the class in the per-user folder. Fails while another live process serves
    // it; a socket left by a crashed server is replaced.
    bool Listen(const char* className, std::string& error);
    // Waits up to timeoutMs for one request and answers it. True when a request was handed
    // to the handler. Requests whose sender has already given up are dropped unanswered.
    bool ServeOne(int timeoutMs, const Handler& handler);
    void Close();

private:
    void DropHungUpConnections(const std::vector<int>& ready);
    int listener_ = -1;
    int lock_ = -1;
    std::string socketPath_;
    std::vector<int> held_;  // connections left unanswered on purpose
};
