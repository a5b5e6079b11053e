// posix backend: message boxes. A box here is one line "caption: text" on standard error;
// it never waits for anyone, so tests and unattended runs cannot hang on it.
#include "platform/System.h"

#include <cstdio>

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
    return IDOK;
}
