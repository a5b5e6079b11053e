// What a flight simulator reports, in degrees, turned into the six raw fields the instrument
// reads (base/SimulatorValues.h). One table says how each field is scaled; the same table
// serves every source, so X-Plane, FlightGear and whatever comes later agree to the bit.
#pragma once

#include "base/SimulatorValues.h"

#include <cstddef>
#include <cstdint>
#include <limits>

// One sample from a simulator, in degrees. A value the sample does not carry is NaN.
struct BridgeSample {
    static constexpr double None = std::numeric_limits<double>::quiet_NaN();
    double trueHeading = None;      // 0..360 true
    double magneticHeading = None;  // 0..360 magnetic, from the same moment as trueHeading
    double vor1Relative = None;     // bearing to VOR 1 from the nose, clockwise
    double vor2Relative = None;
    double adf1Relative = None;     // bearing to the NDB tuned on ADF 1 from the nose, clockwise
    double adf2Relative = None;
};

// How the simulator stores an angle.
enum class AngleScale {
    Circle32,        // unsigned 32 bits, 2^32 = full circle
    SignedCircle16,  // signed 16 bits, 65536 = full circle, -180 <= angle < 180
    WholeDegrees,    // whole degrees 0..359
};

struct FieldConversion {
    std::size_t field;                    // offsetof the field in RawFlightValues
    AngleScale scale;
    double (*degrees)(const BridgeSample&);  // the angle this field holds; NaN when absent
};

// In the order of SimulatorValues.
extern const FieldConversion FieldConversions[SimulatorValueCount];

// The bits of the field for an angle in degrees, rounded to the nearest step; any angle
// (negative, beyond 360) comes in by whole turns. The angle must be finite.
std::uint32_t AngleBits(AngleScale scale, double degrees);

// An angle brought into 0 <= result < 360, and into -180 <= result < 180.
double Wrap360(double degrees);
double Wrap180(double degrees);

// Stores every field the sample carries with a finite value; the other fields keep what
// they held (the last good value). Returns how many fields were stored.
int ApplySample(const BridgeSample& sample, RawFlightValues& raw);
