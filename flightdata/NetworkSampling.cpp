// The network frame: six value requests, each reduced at once to its raw field, a 1 ms
// pause, then the conversion and drawing the FSUIPC frame uses. Conversion and range
// errors are not caught here; they end the program in the main loop.
#include "flightdata/NetworkSampling.h"

#include "app/Runtime.h"
#include "net/ValueRequest.h"
#include "platform/System.h"

#include <cmath>

namespace {

constexpr double TwoTo63 = 9223372036854775808.0;
constexpr double TwoTo31 = 2147483648.0;

}  // namespace

std::uint32_t HeadingFromReply(double number) {
    // Rounds with the current mode, which the program keeps at nearest-even.
    double rounded = std::nearbyint(number);
    if (!(rounded >= -TwoTo63 && rounded < TwoTo63)) return 0;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(rounded)));
}

std::uint16_t WordFromReply(double number) {
    double rounded = std::nearbyint(number);
    if (!(rounded >= -TwoTo31 && rounded < TwoTo31)) throw RangeError();
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(rounded)));
}

RawFlightValues SampleNetworkValues() {
    RawFlightValues raw;
    raw.trueHeading = HeadingFromReply(RequestValue(1408, "4", "5"));
    raw.magneticVariation = static_cast<std::int16_t>(WordFromReply(RequestValue(672, "2", "4")));
    raw.vor1Bearing = WordFromReply(RequestValue(3158, "2", "6"));
    raw.vor2Bearing = WordFromReply(RequestValue(3164, "2", "6"));
    raw.adf1Bearing = static_cast<std::int16_t>(WordFromReply(RequestValue(3178, "2", "6")));
    raw.adf2Bearing = static_cast<std::int16_t>(WordFromReply(RequestValue(728, "2", "6")));
    return raw;
}

bool DrawSceneNetwork() {
    RawFlightValues raw = SampleNetworkValues();
    Sleep(1);
    HandOverToDrawing(raw);
    return true;
}
