// The bridge's FSUIPC source: the six values read from the simulator on this machine through
// the instrument's own link client (FPCuser), a few tens of times a second, for the data
// server to pass on to instruments on other machines. A link that cannot be opened or breaks
// is reported once and tried again every few seconds; the values read last stay served.
// FPCuser keeps one link per process, so there is one FsuipcSource at a time.
#pragma once

#include "Sources.h"

#include <chrono>
#include <deque>
#include <string>

class FsuipcSource : public Source {
public:
    static constexpr int ReadsPerSecond = 25;
    static constexpr int RetrySeconds = 3;

    // retryEvery: between attempts to open the link (shorter in tests).
    explicit FsuipcSource(std::chrono::milliseconds retryEvery = std::chrono::seconds(RetrySeconds))
        : retryEvery_(retryEvery) {}
    ~FsuipcSource() override { Close(); }
    std::string Describe() const override { return "FSUIPC on this machine"; }
    std::string ShortName() const override { return "FSUIPC"; }
    // Tries the link once; a simulator not running yet is no error (it is tried again).
    bool Open(std::string& error) override;
    int Poll(int timeoutMs, RawFlightValues& raw) override;
    void Close() override;
    bool TakeNotice(std::string& text) override;
    bool LinkOpen() const { return open_; }

private:
    using Clock = std::chrono::steady_clock;
    void TryOpen(Clock::time_point now);
    void Notice(std::string text);

    std::chrono::milliseconds retryEvery_;
    bool open_ = false;
    bool everOpened_ = false;
    int lastFailure_ = -1;  // the open's last result code, so a repeated failure is told once
    Clock::time_point nextTry_{}, nextRead_{};
    std::deque<std::string> notices_;
};

// The words for one of FPCuser's result codes ("no simulator running").
std::string IpcResultText(int code);
