// The conversion table from degrees to the simulator's raw fields.
#include "Conversion.h"

#include <cmath>

namespace {

double TrueHeading(const BridgeSample& s) { return s.trueHeading; }
// East variation is positive: magnetic north lies east of true north, so the magnetic
// heading reads less than the true one. NaN when either heading is missing.
double Variation(const BridgeSample& s) { return Wrap180(s.trueHeading - s.magneticHeading); }
double Vor1(const BridgeSample& s) { return s.vor1Relative; }
double Vor2(const BridgeSample& s) { return s.vor2Relative; }
double Adf1(const BridgeSample& s) { return s.adf1Relative; }
double Adf2(const BridgeSample& s) { return s.adf2Relative; }

}  // namespace

const FieldConversion FieldConversions[SimulatorValueCount] = {
    {offsetof(RawFlightValues, trueHeading), AngleScale::Circle32, TrueHeading},
    {offsetof(RawFlightValues, magneticVariation), AngleScale::SignedCircle16, Variation},
    {offsetof(RawFlightValues, vor1Bearing), AngleScale::WholeDegrees, Vor1},
    {offsetof(RawFlightValues, vor2Bearing), AngleScale::WholeDegrees, Vor2},
    {offsetof(RawFlightValues, adf1Bearing), AngleScale::SignedCircle16, Adf1},
    {offsetof(RawFlightValues, adf2Bearing), AngleScale::SignedCircle16, Adf2},
};

double Wrap360(double degrees) {
    double d = std::fmod(degrees, 360.0);
    if (d < 0) d += 360.0;
    // fmod of a tiny negative number plus 360 can round up to 360 itself.
    if (d >= 360.0) d -= 360.0;
    return d;
}

double Wrap180(double degrees) {
    return Wrap360(degrees + 180.0) - 180.0;
}

std::uint32_t AngleBits(AngleScale scale, double degrees) {
    switch (scale) {
    case AngleScale::Circle32:
        // 359.99999999 rounds up to 2^32, which is 0 again: the mask takes care of it.
        return static_cast<std::uint32_t>(std::llround(Wrap360(degrees) / 360.0 * 4294967296.0) & 0xFFFFFFFFLL);
    case AngleScale::SignedCircle16:
        // Just below +180 rounds to +32768, which is -32768 in 16 bits: the same direction.
        return static_cast<std::uint32_t>(std::llround(Wrap180(degrees) / 360.0 * 65536.0) & 0xFFFF);
    case AngleScale::WholeDegrees:
        return static_cast<std::uint32_t>(std::llround(Wrap360(degrees)) % 360);
    }
    return 0;
}

int ApplySample(const BridgeSample& sample, RawFlightValues& raw) {
    int stored = 0;
    for (std::size_t i = 0; i < SimulatorValueCount; ++i) {
        const FieldConversion& conversion = FieldConversions[i];
        double degrees = conversion.degrees(sample);
        if (!std::isfinite(degrees)) continue;
        SetFieldBits(raw, SimulatorValues[i], AngleBits(conversion.scale, degrees));
        ++stored;
    }
    return stored;
}
