// How the stand-in waits for its commands: standard input read in pieces with a time-out,
// so that the main thread also notices a stop request (posix_standard_input.cpp polls the
// descriptor; win32_standard_input.cpp reads on a thread of its own, since Windows cannot
// wait on a pipe or a console alike).
#pragma once

#include <csignal>
#include <cstddef>

namespace standardinput {

// Makes SIGINT and SIGTERM set *flag (and, where there is one, SIGPIPE harmless).
void InstallStopHandlers(volatile std::sig_atomic_t* flag);

// Waits up to timeoutMs for bytes on standard input. >0: that many bytes were copied into
// buffer; 0: nothing came in time (or a signal interrupted the wait); -1: the input ended.
long Read(char* buffer, std::size_t size, int timeoutMs);

}  // namespace standardinput
