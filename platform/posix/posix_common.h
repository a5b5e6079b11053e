// posix backend, internal: the POSIX mechanics several services share, each written once:
// bounded whole-file reads, atomic file replacement, waiting on a descriptor until a deadline,
// FNV-1a hashing and ASCII case folding (Windows compares names without regard to ASCII case).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <sys/types.h>

namespace posixcommon {

enum class ReadResult { Read, Missing, Failed };

// Reads a regular file whole into bytes. Missing when it does not exist; Failed, with errno
// telling why, when it cannot be opened or read, is no regular file (EISDIR), or holds more
// than maxBytes (EFBIG). noFollow refuses a symbolic link. info, if given, gets the file's
// status.
ReadResult ReadWholeFile(const char* path, std::size_t maxBytes, std::string& bytes,
                         bool noFollow = false, struct stat* info = nullptr);

// Writes all of bytes to a descriptor; false (errno set) when it cannot.
bool WriteAll(int fd, std::string_view bytes);

// How ReplaceFileAtomically makes its temporary file.
struct Replacement {
    mode_t mode = 0600;
    // Someone else's file keeps its owner and group where this process may set them.
    const struct stat* owner = nullptr;
    // A fixed temporary name (overwritten, never followed if a link); empty: a unique one
    // beside the file, ".<name>.XXXXXX", locked while it is written.
    std::string temporary;
};

// Replaces the file at path with bytes in one step: the temporary file is written, flushed
// to the disk, given its mode and renamed over path; then the folder is flushed too, so a
// crash leaves the old file or the new one, never half of one. False (errno set, the
// temporary file removed) on failure. After a replacement with a unique temporary name,
// the leftovers of writers killed before their rename are removed: regular files of that
// pattern, owned by this user, whose lock can be taken (a live writer holds its own).
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, const Replacement& how);

// Steady (CLOCK_MONOTONIC) time points are the deadlines of every wait.
using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// Waits until fd shows one of events (or an error or hang-up) or the deadline passes; a
// signal does not cut the wait short. Returns poll's answer: 1 with revents set, 0 at the
// deadline, -1 with errno on failure.
int PollUntil(int fd, short events, Deadline deadline, short& revents);

// The 32-bit FNV-1a hash of the bytes.
std::uint32_t Fnv1a(std::string_view bytes);

std::string ToUpperAscii(std::string_view text);
// Whether two names are equal without regard to ASCII case.
bool EqualNoCase(std::string_view a, std::string_view b);

}  // namespace posixcommon
