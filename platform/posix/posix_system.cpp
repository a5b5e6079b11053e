// posix backend: kernel services (sleep, process id, last error, current directory).
// The last error is per thread, as on Windows; backend functions set it where the Windows
// call they stand for would.
#include "platform/System.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {
thread_local DWORD lastError = 0;
}

void Sleep(DWORD milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD code) {
    lastError = code;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    char path[4096];
    if (!getcwd(path, sizeof path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    DWORD length = static_cast<DWORD>(std::strlen(path));
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, path, length + 1);
    return length;
}

BOOL MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags) {
    (void)flags;  // rename() replaces an existing file in any case
    if (!existingName || !newName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (std::rename(existingName, newName) != 0) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}
