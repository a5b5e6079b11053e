// posix backend: the client side of the link's local transport, standing in for user32's
// FindWindowExA/RegisterWindowMessageA/SendMessageTimeoutA. A class's "window" is a local
// socket in the per-user folder, kept alive by a lock its server holds; each message is one
// connection. Knowingly different from Windows: only top-level look-ups by class, flags of
// SendMessageTimeoutA ignored (it always blocks), message numbers from a fixed hash.
#include "formats/ByteOrder.h"
#include "platform/Link.h"
#include "platform/System.h"
#include "platform/posix/posix_common.h"
#include "platform/posix/posix_link_transport.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace linktransport;

// A window handle of the link: the class's socket in the folder where it was found.
struct LinkWindow {
    std::string className;
    std::string socketPath;
};

struct WindowRegistry {
    std::mutex mutex;
    // Keyed by socket path; the objects live for the process, so handles stay valid.
    std::map<std::string, std::unique_ptr<LinkWindow>> byPath;
    std::set<const LinkWindow*> handles;
};

WindowRegistry& Windows() {
    static WindowRegistry registry;
    return registry;
}

// Whether a live process holds the class's lock (and so serves its socket).
bool ClassServed(const std::string& folder, const char* className) {
    std::string lockPath = WindowLockPath(folder, className);
    int fd = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    bool served = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);  // also drops the shared lock if we got it
    if (!served) return false;
    struct stat info;
    std::string socketPath = WindowSocketPath(folder, className);
    return lstat(socketPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

enum class Wait { Ready, TimedOut, Failed };

Wait WaitFor(int fd, short events, posixcommon::Deadline deadline) {
    short revents = 0;
    int count = posixcommon::PollUntil(fd, events, deadline, revents);
    if (count > 0) return (revents & events) ? Wait::Ready : Wait::Failed;
    return count == 0 ? Wait::TimedOut : Wait::Failed;
}

// One exchange on a fresh connection; sets the last error the way Windows would.
bool Exchange(const std::string& socketPath, const unsigned char* request, DWORD& answer,
              posixcommon::Deadline deadline) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};

    // A full backlog refuses at once with EAGAIN; keep knocking until the deadline.
    for (;;) {
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
        if (errno == EINTR) continue;
        if (errno == EAGAIN && posixcommon::Clock::now() < deadline) {
            Sleep(1);
            continue;
        }
        SetLastError(errno == EAGAIN ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }

    std::size_t sent = 0;
    while (sent < RequestSize) {
        Wait wait = WaitFor(fd, POLLOUT, deadline);
        if (wait != Wait::Ready) {
            SetLastError(wait == Wait::TimedOut ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        ssize_t n = send(fd, request + sent, RequestSize - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }

    unsigned char reply[ReplySize];
    std::size_t received = 0;
    while (received < ReplySize) {
        Wait wait = WaitFor(fd, POLLIN, deadline);
        if (wait == Wait::TimedOut) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        ssize_t n = recv(fd, reply + received, ReplySize - received, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {  // the server closed without answering: its window has gone
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        received += static_cast<std::size_t>(n);
    }
    if (GetLe32(reply) != ReplyMagic) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    answer = GetLe32(reply + 4);
    return true;
}

}  // namespace

HWND FindWindowExA(HWND parent, HWND childAfter, LPCSTR className, LPCSTR) {
    if (parent || childAfter || !className || !*className) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string folder;
    if (!LinkDirectory(folder)) return nullptr;
    if (!ClassServed(folder, className)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    WindowRegistry& registry = Windows();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::string socketPath = WindowSocketPath(folder, className);
    auto& slot = registry.byPath[socketPath];
    if (!slot) {
        slot = std::make_unique<LinkWindow>(LinkWindow{className, socketPath});
        registry.handles.insert(slot.get());
    }
    return const_cast<LinkWindow*>(slot.get());
}

UINT RegisterWindowMessageA(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // FNV-1a over the upper-cased name: every process computes the same number alone.
    return 0xC000u + posixcommon::Fnv1a(posixcommon::ToUpperAscii(name)) % 0x4000u;
}

LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT, UINT timeout,
                            PDWORD_PTR result) {
    posixcommon::Deadline deadline = posixcommon::Clock::now() + std::chrono::milliseconds(timeout);
    std::string socketPath;
    {
        WindowRegistry& registry = Windows();
        std::lock_guard<std::mutex> lock(registry.mutex);
        auto found = registry.handles.find(static_cast<const LinkWindow*>(window));
        if (found == registry.handles.end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        socketPath = (*found)->socketPath;
    }
    unsigned char request[RequestSize] = {};
    PutLe32(request, RequestMagic);
    PutLe32(request + 4, message);
    PutLe64(request + 8, static_cast<std::uint64_t>(wParam));
    PutLe64(request + 16, static_cast<std::uint64_t>(lParam));
    PutLe32(request + 24, GetCurrentProcessId());
    PutLe32(request + 28, timeout);
    DWORD answer = 0;
    if (!Exchange(socketPath, request, answer, deadline)) return 0;
    if (result) *result = answer;
    SetLastError(ERROR_SUCCESS);
    return 1;
}
