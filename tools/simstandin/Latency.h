// The stand-in's half of the latency measurement: it turns the heading (0x0580) to a new
// value again and again and notes, on CLOCK_MONOTONIC, when it changed the value, when a
// read first carried the new value out (a link exchange or a data-server request) and when
// the next read of the heading came (the instrument's next frame). The instrument reads the
// heading once a frame in either mode, so that next read follows the carrying frame's swap.
#pragma once

#include "OffsetMemory.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct LatencySample {
    std::int64_t changedNs = 0;  // the new heading stored
    std::int64_t carriedNs = 0;  // first read that delivered it
    std::int64_t nextNs = 0;     // the read of the heading after that one
};

struct LatencyResult {
    std::vector<LatencySample> samples;
    unsigned lost = 0;  // changes no read carried out (or no next read followed) within 2 s
};

class HeadingLatency : private ReadObserver {
public:
    static constexpr std::uint32_t HeadingOffset = 0x0580;

    explicit HeadingLatency(OffsetMemory& memory) : memory_(memory) {}

    // Makes count changes, each intervalMs to 1.5 x intervalMs after the last sample was
    // complete (spread so that the changes fall on every phase of the instrument's frame).
    // The heading found at the start is stored again at the end.
    LatencyResult Run(unsigned count, unsigned intervalMs);

    // The reply line: samples, lost, and median and 99th percentile (ms) of the time from the
    // change to the carrying read and from the change to the next read.
    static std::string Summary(const LatencyResult& result);

private:
    enum class Stage { Idle, AwaitCarry, AwaitNext, Done };

    void Observed(std::uint32_t offset, std::uint32_t size, const std::uint8_t* bytes) override;

    OffsetMemory& memory_;
    std::mutex mutex_;
    std::condition_variable progressed_;
    Stage stage_ = Stage::Idle;
    std::uint32_t expected_ = 0;
    LatencySample current_;
};

// The steady clock in nanoseconds (CLOCK_MONOTONIC on Linux): the clock the instrument's
// observers (the benchmark's pixel probe) use as well.
std::int64_t MonotonicNs();
