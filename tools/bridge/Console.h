// The bridge's console: whether standard output is a terminal (then the status line is
// redrawn in place), and the stop request from Ctrl-C or a termination signal.
// posix_console.cpp on Linux (isatty, signals); win32_console.cpp on Windows (the console
// API and a console control handler).
#pragma once

// True when standard output goes to a terminal.
bool StandardOutputIsTerminal();
// The terminal's width in characters; 80 when it cannot be told.
int TerminalColumns();
// From now on Ctrl-C and a termination request set the stop flag instead of ending the
// process; writes to a closed connection return an error instead of ending it.
void InstallStopHandlers();
// Whether a stop was asked for since InstallStopHandlers.
bool StopRequested();
