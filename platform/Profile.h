// The private-profile (INI file) functions through which the configuration file is read
// and written. On Windows the real calls; posix_profile.cpp reads files the way Windows
// does and edits them in place, line by line, replacing the file atomically.
#pragma once

#include "platform/WinTypes.h"

#ifndef _WIN32
// Copies the value of key in section (or the default when the file, the section or the
// key is missing) into buffer, cut to size - 1 characters; returns the length copied.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                               LPSTR buffer, DWORD size, LPCSTR fileName);
// Stores value under key in section, creating the file or section as needed.
// Returns FALSE, with the last error set, when the file cannot be written.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
#endif
