// The six simulator values of a frame turned into the card angle and the two needle angles.
#include "flightdata/FlightData.h"


namespace {

// A needle's angle from its selected receiver: VOR bearings are whole degrees, ADF bearings
// signed fractions of the full circle.
float NeedleAngle(bool vorSource, std::uint16_t vorRaw, std::int16_t adfRaw) {
    if (vorSource) return static_cast<float>(vorRaw);
    // |raw| * 360 stays below 2^24, so the product and the division by 2^16 are exact.
    std::int32_t scaled = static_cast<std::int32_t>(adfRaw) * 360;
    return static_cast<float>(scaled / 65536.0);
}

}  // namespace

InstrumentAngles ConvertFlightValues(const RawFlightValues& raw, bool needle1Vor, bool needle2Vor) {
    // Both terms are exact in double and so is their difference; the only rounding is the
    // one to single precision (0xFFFFFFFF thus shows as 360, not 359.99999).
    double heading = static_cast<double>(raw.trueHeading) * 360.0 / 4294967296.0;
    double variation = static_cast<double>(raw.magneticVariation) * 360.0 / 65536.0;
    InstrumentAngles angles;
    angles.card = static_cast<float>(heading - variation);
    angles.needle1 = NeedleAngle(needle1Vor, raw.vor1Bearing, raw.adf1Bearing);
    angles.needle2 = NeedleAngle(needle2Vor, raw.vor2Bearing, raw.adf2Bearing);
    return angles;
}
