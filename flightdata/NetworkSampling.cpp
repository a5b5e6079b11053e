// Network sampling: six value requests, each reduced at once to its raw field. Conversion
// and range errors are not caught here; they end the program in the main loop.
#include "flightdata/NetworkSampling.h"

#include "base/Runtime.h"
#include "net/ValueRequest.h"

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
    for (const SimulatorValue& value : SimulatorValues) {
        double number = RequestValue(value.offset, value.sizeText, value.codeText);
        SetFieldBits(raw, value, value.size == 4 ? HeadingFromReply(number) : WordFromReply(number));
    }
    return raw;
}
