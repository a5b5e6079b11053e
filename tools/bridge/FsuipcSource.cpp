// The bridge's FSUIPC source, over FPCuser (flightdata/FPCuser.h).
#include "FsuipcSource.h"

#include "flightdata/FPCuser.h"

#include <algorithm>
#include <thread>

std::string IpcResultText(int code) {
    static const char* const texts[] = {
        "no error",
        "a link is open already",
        "no simulator with FSUIPC is running",
        "the link message cannot be registered",
        "no atom for the link block",
        "the link block cannot be made",
        "the link block cannot be mapped",
        "FSUIPC is too old",
        "the simulator is not one FSUIPC serves",
        "the link is not open",
        "no data",
        "the simulator did not answer in time",
        "the message to the simulator failed",
        "the simulator's answer was not understood",
        "FSUIPC is still starting",
        "the request does not fit the link block",
    };
    std::string text = code >= 0 && code < static_cast<int>(sizeof texts / sizeof texts[0]) ? texts[code] : "unknown";
    return text + " (code " + std::to_string(code) + ")";
}

namespace {

// Sleeps until the moment has come, however short the system's sleeps turn out.
void SleepUntil(std::chrono::steady_clock::time_point moment) {
    for (auto now = std::chrono::steady_clock::now(); now < moment; now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(moment - now);
}

std::string Every(std::chrono::milliseconds interval) {
    long long ms = interval.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

void FsuipcSource::Notice(std::string text) {
    notices_.push_back(std::move(text));
}

bool FsuipcSource::TakeNotice(std::string& text) {
    if (notices_.empty()) return false;
    text = std::move(notices_.front());
    notices_.pop_front();
    return true;
}

bool FsuipcSource::Open(std::string&) {
    TryOpen(Clock::now());
    return true;
}

void FsuipcSource::TryOpen(Clock::time_point now) {
    IpcResult code = IPC_OK;
    if (IpcOpen(0, code)) {
        open_ = true;
        lastFailure_ = -1;
        Notice(everOpened_ ? "FSUIPC link open again" : "FSUIPC link open");
        everOpened_ = true;
        nextRead_ = now;
        return;
    }
    IpcClose();  // whatever a half-made open left behind
    if (code != lastFailure_) {
        Notice("cannot open the FSUIPC link: " + IpcResultText(code) + "; trying again every " +
               Every(retryEvery_));
        lastFailure_ = code;
    }
    nextTry_ = now + retryEvery_;
}

int FsuipcSource::Poll(int timeoutMs, RawFlightValues& raw) {
    Clock::time_point now = Clock::now();
    Clock::time_point deadline = now + std::chrono::milliseconds(timeoutMs);
    if (!open_) {
        if (now < nextTry_) {
            SleepUntil(std::min(deadline, nextTry_));
            return 0;
        }
        TryOpen(now);
        if (!open_) return 0;
    }
    if (now < nextRead_) {
        if (nextRead_ > deadline) {
            SleepUntil(deadline);
            return 0;
        }
        SleepUntil(nextRead_);
    }
    nextRead_ = std::max(nextRead_ + std::chrono::milliseconds(1000 / ReadsPerSecond), Clock::now());
    // Read into a copy: a failed exchange leaves the values served so far as they were.
    RawFlightValues read = raw;
    IpcResult code = IPC_OK;
    bool queued = true;
    for (const SimulatorValue& value : SimulatorValues)
        queued = IpcQueueRead(value.offset, value.size, FieldAddress(read, value), code) && queued;
    if (queued && IpcProcess(code)) {
        raw = read;
        return 1;
    }
    IpcClose();
    open_ = false;
    lastFailure_ = -1;
    Notice("FSUIPC link lost: " + IpcResultText(code) + "; serving the last values, trying again every " +
           Every(retryEvery_));
    nextTry_ = Clock::now() + retryEvery_;
    return 0;
}

void FsuipcSource::Close() {
    if (open_) IpcClose();
    open_ = false;
}
