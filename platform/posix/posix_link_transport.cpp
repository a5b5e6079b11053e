// posix backend, internal: the link transport's shared facts (posix_link_transport.h): the
// per-user folder, object names, and the liveness of the process behind a name, read from
// /proc so that a recycled pid is not taken for the process that wrote it.
#include "platform/posix/posix_link_transport.h"

#include "platform/System.h"
#include "platform/posix/posix_common.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace linktransport {

namespace {

bool UsableFolder(const std::string& folder) {
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

// Reads the state letter and the start time of a process from /proc; false without them.
bool ReadProcessStat(std::uint32_t pid, char& state, std::uint64_t& startTime) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
    std::string text;
    if (posixcommon::ReadWholeFile(path, 4096, text) != posixcommon::ReadResult::Read || text.empty())
        return false;
    // The command name in parentheses may hold anything; the fields follow the last ')'.
    std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size() || text[close + 1] != ' ') return false;
    const char* at = text.c_str() + close + 2;
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

bool LinkDirectory(std::string& folder, std::string* problem) {
    auto refuse = [&](const std::string& why) {
        if (problem) {
            *problem = why;
        } else {
            // Nobody else would tell the user; once per reason is enough.
            static std::mutex mutex;
            static std::set<std::string> told;
            std::lock_guard<std::mutex> lock(mutex);
            if (told.insert(why).second) std::fprintf(stderr, "link: %s\n", why.c_str());
        }
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    };
    const char* chosen = std::getenv("KORVA_LINK_DIR");
    if (chosen && *chosen) {
        // Both ends must find the same folder, and they need not share a current directory.
        if (chosen[0] != '/')
            return refuse(std::string("KORVA_LINK_DIR must be an absolute path, not \"") + chosen + "\"");
        folder = chosen;
    } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        folder = std::string(runtime) + "/korva-link";
    } else {
        folder = "/tmp/korva-link-" + std::to_string(geteuid());
    }
    // mkdir never follows a link or changes an existing folder; the check below decides.
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return refuse("cannot make the link folder " + folder + ": " + std::strerror(errno));
    // Both ends must arrive at the same spelling: object names are derived from it.
    char* real = realpath(folder.c_str(), nullptr);
    if (!real) return refuse("cannot resolve the link folder " + folder + ": " + std::strerror(errno));
    std::string resolved = real;
    std::free(real);
    if (!UsableFolder(resolved))
        return refuse("the link folder " + resolved +
                      " must be a folder of this user that nobody else may enter (mode 0700)");
    folder = resolved;
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

std::string WindowSocketPath(const std::string& folder, const char* className) {
    return folder + "/wnd-" + EscapeName(posixcommon::ToUpperAscii(className ? className : ""));
}

std::string WindowLockPath(const std::string& folder, const char* className) {
    return WindowSocketPath(folder, className) + ".lock";
}

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

FolderLock::FolderLock(const std::string& folder) {
    fd_ = open((folder + "/link.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0) {
        while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace linktransport
