// posix backend, internal: what both ends of the link's local transport share (the per-user
// folder and its lock, object names, the wire format, whether a process still runs). The
// instrument's end is posix_link.cpp, posix_atoms.cpp and posix_shared_memory.cpp; the
// simulator stand-in serves the other. The byte-level description is docs/link-transport.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace linktransport {

// Request: 32 bytes, reply: 8 bytes, all fields little-endian (formats/ByteOrder.h).
inline constexpr std::uint32_t RequestMagic = 0x4D4C564B;  // "KVLM"
inline constexpr std::uint32_t ReplyMagic = 0x414C564B;    // "KVLA"
inline constexpr std::size_t RequestSize = 32;
inline constexpr std::size_t ReplySize = 8;

// Shared-memory objects start with one header page; the caller's bytes follow it.
inline constexpr std::uint32_t MappingMagic = 0x4D48534B;  // "KSHM"
inline constexpr std::size_t MappingHeaderSize = 4096;

// The per-user folder of sockets, lock files and the atom table: KORVA_LINK_DIR if set
// (an absolute path; a relative one is refused), else $XDG_RUNTIME_DIR/korva-link, else
// /tmp/korva-link-<uid>. Created with mode 0700 if missing; refused (false, last error
// ERROR_ACCESS_DENIED) unless it is a real folder owned by this user that nobody else may
// enter. Why it was refused goes to problem, or without one to standard error, once.
bool LinkDirectory(std::string& folder, std::string* problem = nullptr);

// Keeps letters, digits and ". _ - :"; every other byte becomes %XX (upper-case hex).
std::string EscapeName(const std::string& name);

// Socket and lock file of the "window" of a class (class names compare upper-cased).
std::string WindowSocketPath(const std::string& folder, const char* className);
std::string WindowLockPath(const std::string& folder, const char* className);

// Whether the process that wrote (pid, start time) still runs. A start time of 0 means
// "unknown" and checks the pid only.
std::uint64_t ProcessStartTime(std::uint32_t pid);
bool ProcessAlive(std::uint32_t pid, std::uint64_t startTime);

// The folder-wide lock that serialises changes to the atom table and to shared-memory names.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace linktransport
