// X-Plane's RREF requests and answers, byte by byte.
#include "XPlaneProtocol.h"

#include "formats/ByteOrder.h"

#include <cstring>

namespace xplane {

const Dataref Datarefs[6] = {
    {"sim/flightmodel/position/psi", &BridgeSample::trueHeading},
    {"sim/flightmodel/position/mag_psi", &BridgeSample::magneticHeading},
    {"sim/cockpit2/radios/indicators/nav1_relative_bearing_deg", &BridgeSample::vor1Relative},
    {"sim/cockpit2/radios/indicators/nav2_relative_bearing_deg", &BridgeSample::vor2Relative},
    {"sim/cockpit2/radios/indicators/adf1_relative_bearing_deg", &BridgeSample::adf1Relative},
    {"sim/cockpit2/radios/indicators/adf2_relative_bearing_deg", &BridgeSample::adf2Relative},
};

std::vector<std::uint8_t> Subscription(std::int32_t frequency, std::int32_t index, const std::string& path) {
    std::vector<std::uint8_t> bytes(SubscriptionSize, 0);
    std::memcpy(bytes.data(), "RREF", 4);
    PutLe32(bytes.data() + 5, static_cast<std::uint32_t>(frequency));
    PutLe32(bytes.data() + 9, static_cast<std::uint32_t>(index));
    std::memcpy(bytes.data() + 13, path.data(), path.size() < PathSize ? path.size() : PathSize - 1);
    return bytes;
}

bool ParseAnswer(const std::uint8_t* data, std::size_t length, std::vector<IndexedValue>& values) {
    values.clear();
    if (length < AnswerHeaderSize || std::memcmp(data, "RREF", 4) != 0) return false;
    std::size_t body = length - AnswerHeaderSize;
    if (body % 8 != 0) return false;
    for (std::size_t at = AnswerHeaderSize; at < length; at += 8) {
        std::uint32_t bits = GetLe32(data + at + 4);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back({static_cast<std::int32_t>(GetLe32(data + at)), value});
    }
    return true;
}

int SampleFromValues(const std::vector<IndexedValue>& values, BridgeSample& sample) {
    int stored = 0;
    for (const IndexedValue& v : values) {
        if (v.index < 0 || static_cast<std::size_t>(v.index) >= DatarefCount) continue;
        sample.*(Datarefs[v.index].field) = v.value;
        ++stored;
    }
    return stored;
}

}  // namespace xplane
