// MessageBoxA on Windows: the real box, unless the environment asks for standard error.
// KORVA_MESSAGEBOX=stderr exists for automated runs: a box waits for a click, and a test
// driving the instrument would stop there. Then the box becomes the line Linux shows,
// "caption: text", and the answer is IDOK, as if the user had clicked OK.
#include "platform/System.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#undef MessageBoxA

int KorvaMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const char* mode = std::getenv("KORVA_MESSAGEBOX");
    if (mode && std::strcmp(mode, "stderr") == 0) {
        std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
        std::fflush(stderr);
        return IDOK;
    }
    return MessageBoxA(owner, text, caption, type);
}
