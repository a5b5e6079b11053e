// The console on Windows: a console screen buffer is the terminal (the status line is
// redrawn with the escape sequences Windows 10 consoles understand once virtual terminal
// processing is on; an older console that refuses it gets the logged lines instead).
// Ctrl-C, Ctrl-Break and closing the console window set the flag the main loop polls.
#include "Console.h"

#include "platform/WinTypes.h"

#include <atomic>
#include <io.h>
#include <cstdio>

namespace {

std::atomic<bool> stopFlag{false};

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

BOOL WINAPI OnConsoleControl(DWORD event) {
    stopFlag = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process as soon as this returns: give the main loop the time it
        // needs to let go of the link and the server (it ends the process itself before).
        Sleep(4000);
    }
    return TRUE;
}

}  // namespace

bool StandardOutputIsTerminal() {
    if (!_isatty(_fileno(stdout))) return false;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 80;
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

void InstallStopHandlers() {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StopRequested() {
    return stopFlag.load();
}
