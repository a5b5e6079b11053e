// posix backend, internal: the POSIX mechanics several services share (posix_common.h); no
// Windows call stands behind them, so nothing here differs from Windows.
#include "platform/posix/posix_common.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
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

namespace {

// Temporary names are "." + the file's name + "." + six letters or digits (what mkostemp
// puts in place of XXXXXX), so that leftovers can be told apart from anything else.
constexpr std::size_t UniqueLength = 6;

bool IsTemporaryOf(const std::string& base, const char* name) {
    std::size_t length = std::strlen(name);
    if (length != base.size() + 2 + UniqueLength || name[0] != '.' ||
        base.compare(0, base.size(), name + 1, base.size()) != 0 || name[base.size() + 1] != '.')
        return false;
    for (const char* c = name + base.size() + 2; *c; ++c)
        if (!std::isalnum(static_cast<unsigned char>(*c))) return false;
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the temporary files of writers that died before their rename: regular files of the
// pattern, ours, and not locked, since a writer at work holds a lock on its temporary file.
void RemoveDeadTemporaries(const std::string& folder, const std::string& base) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    const int dirFd = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        if (!IsTemporaryOf(base, entry->d_name)) continue;
        struct stat named;
        if (fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(named.st_mode) || named.st_uid != geteuid())
            continue;
        // A killed writer may have left it with any mode it had set already.
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        int fd = openat(dirFd, entry->d_name, O_RDONLY | flags);
        if (fd < 0 && errno == EACCES) fd = openat(dirFd, entry->d_name, O_WRONLY | flags);
        if (fd < 0) continue;
        struct stat opened;
        if (fstat(fd, &opened) == 0 && SameFile(opened, named) && flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Remove it only while the name still stands for the file we hold locked.
            struct stat again;
            if (fstatat(dirFd, entry->d_name, &again, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(again, opened))
                unlinkat(dirFd, entry->d_name, 0);
        }
        close(fd);
    }
    closedir(dir);
}

// Makes a unique temporary file from pattern and locks it. A sweeping writer may remove it
// between the creation and the lock; then it is made anew.
int CreateLockedTemporary(const std::string& pattern, std::vector<char>& name) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        name.assign(pattern.begin(), pattern.end());
        name.push_back('\0');
        int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        struct stat info;
        int locked;
        while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked == 0 && fstat(fd, &info) == 0 && info.st_nlink > 0) return fd;
        int error = errno;
        close(fd);
        if (locked != 0) {
            unlink(name.data());
            errno = error;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, const Replacement& how) {
    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const bool unique = how.temporary.empty();
    std::vector<char> name;
    int fd;
    if (unique) {
        fd = CreateLockedTemporary(folder + "/." + base + "." + std::string(UniqueLength, 'X'), name);
    } else {
        name.assign(how.temporary.begin(), how.temporary.end());
        name.push_back('\0');
        fd = open(name.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes) && fsync(fd) == 0 && fchmod(fd, how.mode) == 0;
    if (ok && how.owner && (how.owner->st_uid != geteuid() || how.owner->st_gid != getegid())) {
        // When we may not set them, the file becomes ours, which still leaves it readable.
        int ignored = fchown(fd, how.owner->st_uid, how.owner->st_gid);
        (void)ignored;
    }
    int error = errno;
    // The lock is held over the rename, so that no sweeping writer takes the file for a
    // leftover; the data are on the disk already, so closing afterwards loses nothing.
    if (ok && rename(name.data(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(name.data());
        close(fd);
        errno = error;
        return false;
    }
    close(fd);
    // The rename itself must reach the disk too.
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    if (unique) RemoveDeadTemporaries(folder, base);
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
