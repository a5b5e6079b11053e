// The kernel and user services the FSUIPC link needs: finding the simulator's window,
// registered messages, send-with-time-out, global atoms and named shared memory.
// On Windows these are the real calls; on Linux posix_link.cpp, posix_atoms.cpp and
// posix_shared_memory.cpp provide them over a per-user local socket, an atom table file and
// POSIX shared memory (docs/link-transport.md).
#pragma once

#include "platform/WinTypes.h"

#ifndef _WIN32
#include <cstddef>

typedef std::size_t SIZE_T;
typedef const void* LPCVOID;
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

// The "window" of a class is the socket of the process serving that class. Only top-level
// look-ups (no parent, no preceding child) by class are supported; the title is ignored.
// Null, with the last error set, when no live process serves the class.
HWND FindWindowExA(HWND parent, HWND childAfter, LPCSTR className, LPCSTR windowName);
// The same number (0xC000-0xFFFF) for the same name, without regard to case, in every
// process; 0 for an empty name.
UINT RegisterWindowMessageA(LPCSTR name);
// Sends the message and waits at most timeout ms in all for the answer, which goes to
// *result. Non-zero on success; 0 with ERROR_TIMEOUT when the server did not answer in
// time, ERROR_INVALID_WINDOW_HANDLE when the handle is not one of FindWindowExA's or the
// server has gone. The flags are accepted and ignored: the call always blocks.
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeout, PDWORD_PTR result);

// Global atoms, shared by every process of the user; names compare without regard to case.
ATOM GlobalAddAtomA(LPCSTR name);
ATOM GlobalDeleteAtom(ATOM atom);  // 0 on success, the atom when it did not exist
UINT GlobalGetAtomNameA(ATOM atom, LPSTR buffer, int size);
ATOM GlobalFindAtomA(LPCSTR name);

// Named shared memory. Only named objects backed by the paging file (INVALID_HANDLE_VALUE)
// are supported. An existing object of the name is opened instead, with ERROR_ALREADY_EXISTS.
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                          DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCSTR name);
HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
// Maps from offset 0 only; bytes 0 maps the whole object.
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID baseAddress);
// Closes a mapping handle; the creator's close also removes the object's name.
BOOL CloseHandle(HANDLE handle);
#endif
