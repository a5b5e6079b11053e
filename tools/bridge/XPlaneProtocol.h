// X-Plane 11/12's UDP dataref subscriptions (RREF), as the bridge uses them. A request is
// "RREF" and a zero byte, the frequency (int32, times a second; 0 ends the subscription),
// the caller's index (int32) and the dataref's path, zero-padded to 400 bytes: 413 bytes.
// X-Plane answers to the sender's address with "RREF" and one more byte, then pairs of
// index (int32) and value (float32). All numbers little-endian.
#pragma once

#include "Conversion.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xplane {

constexpr std::size_t SubscriptionSize = 413;
constexpr std::size_t PathSize = 400;
constexpr std::size_t AnswerHeaderSize = 5;
constexpr std::uint16_t DefaultPort = 49000;

// The datarefs the bridge subscribes to; the index sent with each is its place in this table.
struct Dataref {
    const char* path;
    double BridgeSample::*field;
};
extern const Dataref Datarefs[6];
constexpr std::size_t DatarefCount = 6;

// The 413 bytes of one subscription request (frequency 0: unsubscribe). A path longer than
// 399 bytes is cut so that the zero byte always ends it.
std::vector<std::uint8_t> Subscription(std::int32_t frequency, std::int32_t index, const std::string& path);

// One value of an answer.
struct IndexedValue {
    std::int32_t index;
    float value;
};

// The values of one answer datagram. False (and nothing in values) when it is not an RREF
// answer: too short, another header, or a length that leaves part of a pair.
bool ParseAnswer(const std::uint8_t* data, std::size_t length, std::vector<IndexedValue>& values);

// The values with an index of Datarefs stored in their fields of the sample; others
// (another program's subscriptions on the same socket) are passed over. Returns how many
// were stored.
int SampleFromValues(const std::vector<IndexedValue>& values, BridgeSample& sample);

}  // namespace xplane
