// The VOR/ADF bearing indicator. Reads no arguments: the configuration file, the pictures
// and the icon come from the current directory. Exit code 0 for every orderly end, 1 after
// an error nobody caught, which is shown under "Application Error".
#include "app/MainLoop.h"
#include "flightdata/FPCuser.h"
#include "platform/System.h"

#include <exception>

int main() {
    int exitCode = 0;
    try {
        exitCode = RunProgram();
    } catch (const std::exception& error) {
        MessageBoxA(nullptr, error.what(), "Application Error", MB_OK | MB_ICONERROR);
        exitCode = 1;
    }
    // The link to the simulator is released once, however the program ends.
    IpcClose();
    return exitCode;
}
