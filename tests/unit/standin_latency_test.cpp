// The stand-in's latency measurement against a reader that plays the instrument's frames:
// the read that carries a change out is the first one to deliver the new heading, the next
// read is the following frame's, reads of neighbouring bytes do not count, and the heading
// the stand-in found is back afterwards.
#include "Latency.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

struct HeadingRead {
    std::int64_t startNs, endNs;
    std::uint32_t value;
};

}  // namespace

TEST(StandInLatency, CarryingReadIsTheFirstWithTheNewHeadingAndNextIsTheFollowingFrame) {
    OffsetMemory memory;
    const std::uint32_t original = 0x40000000;
    memory.WriteUnsigned(HeadingLatency::HeadingOffset, 4, original);

    std::atomic<bool> stop{false};
    std::vector<HeadingRead> reads;
    std::thread frames([&] {
        while (!stop) {
            unsigned char bytes[4];
            HeadingRead read{MonotonicNs(), 0, 0};
            memory.Read(HeadingLatency::HeadingOffset, 4, bytes);
            read.endNs = MonotonicNs();
            read.value = GetLe32(bytes);
            reads.push_back(read);
            // Reads that are not the whole heading, between frames, are no frame of their own.
            memory.Read(HeadingLatency::HeadingOffset + 2, 2, bytes);
            memory.Read(HeadingLatency::HeadingOffset, 2, bytes);
            std::this_thread::sleep_for(std::chrono::microseconds(700));
        }
    });
    HeadingLatency latency(memory);
    const LatencyResult result = latency.Run(20, 2);
    stop = true;
    frames.join();

    ASSERT_EQ(result.lost, 0u);
    ASSERT_EQ(result.samples.size(), 20u);
    EXPECT_EQ(memory.ReadUnsigned(HeadingLatency::HeadingOffset, 4), original);
    // The read whose span holds a time the stand-in noted.
    auto readAt = [&](std::int64_t ns) {
        for (std::size_t i = 0; i < reads.size(); ++i)
            if (reads[i].startNs <= ns && ns <= reads[i].endNs) return i;
        return reads.size();
    };
    std::uint32_t heading = original;
    for (const LatencySample& sample : result.samples) {
        heading += 0x9E3779B9u;
        const std::size_t carrying = readAt(sample.carriedNs), next = readAt(sample.nextNs);
        ASSERT_LT(carrying, reads.size());
        ASSERT_LT(next, reads.size());
        EXPECT_EQ(reads[carrying].value, heading);
        // No earlier read had the new heading: the change happened after it. (Under a slow
        // build the first change can come before the frames' first read.)
        if (carrying > 0) {
            EXPECT_NE(reads[carrying - 1].value, heading);
        }
        EXPECT_LE(sample.changedNs, sample.carriedNs);
        EXPECT_EQ(next, carrying + 1);
    }
}
