// Kernel services the portable code uses: sleeping, process id, last error, current
// directory, and message boxes. On Windows these are the real calls; the posix backend
// (posix_system.cpp, posix_messagebox.cpp) answers them the way callers expect.
#pragma once

#include "platform/WinTypes.h"

// Separator between a folder and a file name in a full path.
#ifdef _WIN32
inline constexpr char PathDelimiter[] = "\\";
#else
inline constexpr char PathDelimiter[] = "/";
#endif

#ifndef _WIN32
void Sleep(DWORD milliseconds);
DWORD GetCurrentProcessId();
DWORD GetLastError();
void SetLastError(DWORD code);
// Copies the current directory (no trailing separator unless it is the root) into buffer;
// returns its length, or the size needed when the buffer is too small, 0 on failure.
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
// Shows the text under its caption. Here: one line "caption: text" on standard error;
// it never blocks and always answers IDOK.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
#endif
