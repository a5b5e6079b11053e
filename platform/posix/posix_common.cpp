// posix backend, internal: the POSIX mechanics several services share (posix_common.h); no
// Windows call stands behind them, so nothing here differs from Windows.
#include "platform/posix/posix_common.h"

#include <cerrno>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace posixcommon {

ReadResult ReadWholeFile(const char* path, std::size_t maxBytes, std::string& bytes, bool noFollow,
                         struct stat* info) {
    // Non-blocking, so that a pipe or device given as a file name cannot stall the open.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat own;
    struct stat& status = info ? *info : own;
    int error = 0;
    if (fstat(fd, &status) != 0)
        error = errno;
    else if (!S_ISREG(status.st_mode))
        error = EISDIR;
    else if (static_cast<unsigned long long>(status.st_size) > maxBytes)
        error = EFBIG;
    std::string text;
    char chunk[8192];
    while (!error) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        if (got <= 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
        if (text.size() > maxBytes) error = EFBIG;  // the file grew while we read it
    }
    close(fd);
    if (error) {
        errno = error;
        return ReadResult::Failed;
    }
    bytes = std::move(text);
    return ReadResult::Read;
}

bool WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, const Replacement& how) {
    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = how.temporary.empty() ? folder + "/." + base + ".XXXXXX" : how.temporary;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    int fd = how.temporary.empty()
                 ? mkostemp(name.data(), O_CLOEXEC)
                 : open(name.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes) && fsync(fd) == 0 && fchmod(fd, how.mode) == 0;
    if (ok && how.owner && (how.owner->st_uid != geteuid() || how.owner->st_gid != getegid())) {
        // When we may not set them, the file becomes ours, which still leaves it readable.
        int ignored = fchown(fd, how.owner->st_uid, how.owner->st_gid);
        (void)ignored;
    }
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && rename(name.data(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(name.data());
        errno = error;
        return false;
    }
    // The rename itself must reach the disk too.
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

int PollUntil(int fd, short events, Deadline deadline, short& revents) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left.count() < 0) left = std::chrono::nanoseconds(0);
        timespec wait{static_cast<time_t>(left.count() / 1000000000),
                      static_cast<long>(left.count() % 1000000000)};
        pollfd entry{fd, events, 0};
        int result = ppoll(&entry, 1, &wait, nullptr);
        if (result < 0 && errno == EINTR) continue;  // go on waiting for what is left
        revents = result > 0 ? entry.revents : 0;
        return result;
    }
}

std::uint32_t Fnv1a(std::string_view bytes) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
    return hash;
}

std::string ToUpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

}  // namespace posixcommon
