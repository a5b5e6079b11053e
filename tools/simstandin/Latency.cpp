// The heading changes of the latency measurement and the reads that carry them out.
// The observer runs on the serving threads with the memory's lock held; Run waits on its
// own lock and never holds it while touching the memory.
#include "Latency.h"

#include "formats/ByteOrder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

std::int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void HeadingLatency::Observed(std::uint32_t offset, std::uint32_t size, const std::uint8_t* bytes) {
    // Only whole reads of the heading: what the instrument asks for once a frame.
    if (offset != HeadingOffset || size != 4) return;
    const std::int64_t now = MonotonicNs();
    std::lock_guard<std::mutex> lock(mutex_);
    if (stage_ == Stage::AwaitCarry && GetLe32(bytes) == expected_) {
        current_.carriedNs = now;
        stage_ = Stage::AwaitNext;
    } else if (stage_ == Stage::AwaitNext) {
        current_.nextNs = now;
        stage_ = Stage::Done;
        progressed_.notify_all();
    }
}

LatencyResult HeadingLatency::Run(unsigned count, unsigned intervalMs) {
    LatencyResult result;
    const std::uint32_t original = static_cast<std::uint32_t>(memory_.ReadUnsigned(HeadingOffset, 4));
    std::uint32_t heading = original;
    std::uint32_t noise = 0x2545F491;
    memory_.SetReadObserver(this);
    for (unsigned i = 0; i < count; ++i) {
        // About 222.5 degrees on: never a multiple of the card's graduations, never the value
        // before, so every change turns the card visibly.
        heading += 0x9E3779B9u;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stage_ = Stage::AwaitCarry;
            expected_ = heading;
            current_ = LatencySample{};
            current_.changedNs = MonotonicNs();
        }
        memory_.WriteUnsigned(HeadingOffset, 4, heading);
        bool complete;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            complete = progressed_.wait_for(lock, std::chrono::seconds(2), [this] { return stage_ == Stage::Done; });
            if (complete) result.samples.push_back(current_);
            stage_ = Stage::Idle;
        }
        if (!complete) ++result.lost;
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        const unsigned pauseUs = intervalMs * 1000 + (intervalMs ? noise % (intervalMs * 500) : 0);
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
    }
    memory_.SetReadObserver(nullptr);
    memory_.WriteUnsigned(HeadingOffset, 4, original);
    return result;
}

namespace {

// The value at the fraction q of the sorted samples (nearest rank).
double Quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t rank = static_cast<std::size_t>(q * static_cast<double>(values.size()) + 0.999999);
    return values[std::min(values.size(), std::max<std::size_t>(rank, 1)) - 1];
}

}  // namespace

std::string HeadingLatency::Summary(const LatencyResult& result) {
    std::vector<double> carried, next;
    for (const LatencySample& s : result.samples) {
        carried.push_back(static_cast<double>(s.carriedNs - s.changedNs) / 1e6);
        next.push_back(static_cast<double>(s.nextNs - s.changedNs) / 1e6);
    }
    char line[256];
    std::snprintf(line, sizeof line,
                  "latency samples %zu lost %u carried median %.3f p99 %.3f next median %.3f p99 %.3f",
                  result.samples.size(), result.lost, Quantile(carried, 0.5), Quantile(carried, 0.99),
                  Quantile(next, 0.5), Quantile(next, 0.99));
    return line;
}
