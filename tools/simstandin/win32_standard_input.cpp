// Standard input of the stand-in on Windows: a reader thread blocks in ReadFile (a pipe, a
// file or a console alike) and hands the pieces over; Read waits for them with a time-out.
// The reader thread is detached: it may stay blocked in ReadFile until the process ends.
#include "StandardInput.h"

#include "platform/WinTypes.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace standardinput {

namespace {

volatile std::sig_atomic_t* stopFlag = nullptr;
void RequestStop(int) {
    if (stopFlag) *stopFlag = 1;
}

struct Reader {
    std::mutex mutex;
    std::condition_variable arrived;
    std::string pending;
    bool ended = false;
    bool started = false;
};

Reader& TheReader() {
    static Reader* reader = new Reader;  // outlives the detached thread
    return *reader;
}

void ReadLoop(Reader* reader) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char chunk[1024];
    for (;;) {
        DWORD got = 0;
        BOOL ok = input && input != INVALID_HANDLE_VALUE && ReadFile(input, chunk, sizeof chunk, &got, nullptr);
        std::lock_guard<std::mutex> lock(reader->mutex);
        if (!ok || got == 0) {
            reader->ended = true;
            reader->arrived.notify_all();
            return;
        }
        reader->pending.append(chunk, got);
        reader->arrived.notify_all();
    }
}

}  // namespace

void InstallStopHandlers(volatile std::sig_atomic_t* flag) {
    stopFlag = flag;
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
}

long Read(char* buffer, std::size_t size, int timeoutMs) {
    Reader& reader = TheReader();
    std::unique_lock<std::mutex> lock(reader.mutex);
    if (!reader.started) {
        reader.started = true;
        std::thread(ReadLoop, &reader).detach();
    }
    reader.arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return !reader.pending.empty() || reader.ended; });
    if (!reader.pending.empty()) {
        std::size_t n = reader.pending.size() < size ? reader.pending.size() : size;
        std::memcpy(buffer, reader.pending.data(), n);
        reader.pending.erase(0, n);
        return static_cast<long>(n);
    }
    return reader.ended ? -1 : 0;
}

}  // namespace standardinput
