// Standard input of the stand-in on Linux: poll and read.
#include "StandardInput.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace standardinput {

namespace {
volatile std::sig_atomic_t* stopFlag = nullptr;
void RequestStop(int) {
    if (stopFlag) *stopFlag = 1;
}
}  // namespace

void InstallStopHandlers(volatile std::sig_atomic_t* flag) {
    stopFlag = flag;
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
}

long Read(char* buffer, std::size_t size, int timeoutMs) {
    pollfd entry{STDIN_FILENO, POLLIN, 0};
    int count = poll(&entry, 1, timeoutMs);
    if (count < 0) return errno == EINTR ? 0 : -1;
    if (count == 0) return 0;
    ssize_t n = read(STDIN_FILENO, buffer, size);
    if (n < 0) return errno == EINTR ? 0 : -1;
    return n == 0 ? -1 : static_cast<long>(n);
}

}  // namespace standardinput
