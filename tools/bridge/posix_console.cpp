// The console on Linux: isatty and the window size for the terminal; SIGINT and SIGTERM set a flag that the
// main loop polls (its waits are short), SIGPIPE is ignored.
#include "Console.h"

#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopFlag = 0;

void OnStopSignal(int) {
    stopFlag = 1;
}

}  // namespace

bool StandardOutputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

void InstallStopHandlers() {
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return stopFlag != 0;
}
