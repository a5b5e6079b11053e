// posix backend: the client side of the link's local transport, standing in for user32's
// FindWindowExA/RegisterWindowMessageA/SendMessageTimeoutA. A class's "window" is a local
// socket in the per-user folder, kept alive by a lock its server holds; each message is one
// connection. Global atoms and shared memory are in posix_link_objects.cpp.
// Knowingly different from Windows: only top-level look-ups by class, flags of
// SendMessageTimeoutA ignored (it always blocks), message numbers from a fixed hash.
#include "platform/Link.h"
#include "platform/System.h"
#include "platform/posix/LinkServer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace linktransport {

namespace {

bool UsableFolder(const std::string& folder) {
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

}  // namespace

bool LinkDirectory(std::string& folder) {
    const char* chosen = std::getenv("KORVA_LINK_DIR");
    if (chosen && *chosen) {
        folder = chosen;
    } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        folder = std::string(runtime) + "/korva-link";
    } else {
        folder = "/tmp/korva-link-" + std::to_string(geteuid());
    }
    // mkdir never follows a link or changes an existing folder; the check below decides.
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Both ends must arrive at the same spelling: object names are derived from it.
    char* real = realpath(folder.c_str(), nullptr);
    if (!real) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    folder = real;
    std::free(real);
    if (!UsableFolder(folder)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

std::string EscapeName(const std::string& name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                     c == '_' || c == '-' || c == ':';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

namespace {

std::string UpperCase(const char* text) {
    std::string out(text ? text : "");
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

}  // namespace

std::string WindowSocketPath(const std::string& folder, const char* className) {
    return folder + "/wnd-" + EscapeName(UpperCase(className));
}

std::string WindowLockPath(const std::string& folder, const char* className) {
    return WindowSocketPath(folder, className) + ".lock";
}

namespace {

// Reads the state letter and the start time of a process from /proc; false without them.
bool ReadProcessStat(std::uint32_t pid, char& state, std::uint64_t& startTime) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[1024];
    ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length <= 0) return false;
    text[length] = '\0';
    // The command name in parentheses may hold anything; the fields follow the last ')'.
    const char* at = std::strrchr(text, ')');
    if (!at || at[1] != ' ' || !at[2]) return false;
    at += 2;
    state = *at;
    // That was field 3; the start time is field 22.
    for (int field = 3; field < 22; ++field) {
        while (*at && *at != ' ') ++at;
        while (*at == ' ') ++at;
        if (!*at) return false;
    }
    startTime = std::strtoull(at, nullptr, 10);
    return true;
}

}  // namespace

std::uint64_t ProcessStartTime(std::uint32_t pid) {
    char state = 0;
    std::uint64_t startTime = 0;
    return ReadProcessStat(pid, state, startTime) ? startTime : 0;
}

bool ProcessAlive(std::uint32_t pid, std::uint64_t startTime) {
    if (pid == 0 || pid > 0x7FFFFFFF) return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    char state = 0;
    std::uint64_t now = 0;
    // Without /proc nothing better than the pid is known.
    if (!ReadProcessStat(pid, state, now)) return true;
    // A crashed process nobody has reaped yet is as dead as one that has gone.
    if (state == 'Z' || state == 'X') return false;
    return startTime == 0 || now == startTime;
}

}  // namespace linktransport

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

std::uint64_t MonotonicMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1000 + std::uint64_t(now.tv_nsec) / 1000000;
}

int RemainingMs(std::uint64_t deadline) {
    std::uint64_t now = MonotonicMs();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

enum class Wait { Ready, TimedOut, Failed };

Wait WaitFor(int fd, short events, std::uint64_t deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        int count = poll(&entry, 1, RemainingMs(deadline));
        if (count > 0) return (entry.revents & events) ? Wait::Ready : Wait::Failed;
        if (count == 0) return Wait::TimedOut;
        if (errno != EINTR) return Wait::Failed;
    }
}

// One exchange on a fresh connection; sets the last error the way Windows would.
bool Exchange(const std::string& socketPath, const unsigned char* request, DWORD& answer,
              std::uint64_t deadline) {
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
        if (errno == EAGAIN && RemainingMs(deadline) > 0) {
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
    std::uint32_t hash = 2166136261u;
    for (const char* at = name; *at; ++at) {
        unsigned char c = static_cast<unsigned char>(*at);
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
        hash = (hash ^ c) * 16777619u;
    }
    return 0xC000u + hash % 0x4000u;
}

LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT, UINT timeout,
                            PDWORD_PTR result) {
    std::uint64_t deadline = MonotonicMs() + timeout;
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
