// Kernel services the portable code uses: sleeping, process id, last error, current
// directory, replacing a file, and message boxes. On Windows these are the real calls; the posix backend
// (posix_system.cpp, posix_messagebox.cpp) answers them the way callers expect.
#pragma once

#include "platform/WinTypes.h"

// Separator between a folder and a file name in a full path.
#ifdef _WIN32
inline constexpr char PathDelimiter[] = "\\";
#else
inline constexpr char PathDelimiter[] = "/";
#endif

#ifdef _WIN32
// Message boxes go through win32_messagebox.cpp: the real box, or, when the environment sets
// KORVA_MESSAGEBOX=stderr (for tests, which a waiting box would stop), one line
// "caption: text" on standard error and IDOK, as on Linux.
int KorvaMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
#define MessageBoxA KorvaMessageBoxA
#else
void Sleep(DWORD milliseconds);
DWORD GetCurrentProcessId();
DWORD GetLastError();
void SetLastError(DWORD code);
// Copies the current directory (no trailing separator unless it is the root) into buffer;
// returns its length, or the size needed when the buffer is too small, 0 on failure.
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
// Renames a file; with MOVEFILE_REPLACE_EXISTING a file of the new name is replaced in one
// step (here rename(), which always replaces). FALSE with the last error set on failure.
BOOL MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags);
// Shows the text under its caption. Here: one line "caption: text" on standard error;
// it never blocks and always answers IDOK.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
#endif
