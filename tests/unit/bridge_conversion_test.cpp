// korva-bridge's conversion from degrees to the simulator's raw fields: rounding and
// wraparound for each scale, the variation from two headings, values a sample leaves out or
// gets wrong, and the round trip through the instrument's own conversion.
#include "Conversion.h"
#include "flightdata/FlightData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double Step32 = 360.0 / 4294967296.0;  // one unit of the 32-bit heading
constexpr double Step16 = 360.0 / 65536.0;       // one unit of the 16-bit angles

TEST(BridgeConversionTest, EachScaleRoundsToNearestAndWraps) {
    const struct {
        const char* fault;
        AngleScale scale;
        double degrees;
        std::uint32_t bits;
    } cases[] = {
        {"quarter circle", AngleScale::Circle32, 90.0, 0x40000000u},
        {"negative heading not brought into the circle", AngleScale::Circle32, -90.0, 0xC0000000u},
        {"whole turns not removed", AngleScale::Circle32, 720.0 + 45.0, 0x20000000u},
        {"truncated instead of rounded", AngleScale::Circle32, 0.6 * Step32, 1u},
        {"rounded up below half a step", AngleScale::Circle32, 1000.4 * Step32, 1000u},
        {"just below 360 must round to north, not overflow", AngleScale::Circle32, 360.0 - 0.2 * Step32, 0u},
        {"360 is north", AngleScale::Circle32, 360.0, 0u},

        {"quarter circle left", AngleScale::SignedCircle16, -90.0, 0xC000u},
        {"270 is 90 left", AngleScale::SignedCircle16, 270.0, 0xC000u},
        {"+180 and -180 are the same bits", AngleScale::SignedCircle16, 180.0, 0x8000u},
        {"-180", AngleScale::SignedCircle16, -180.0, 0x8000u},
        {"just below +180 rounds onto -180, not past it", AngleScale::SignedCircle16, 180.0 - 0.3 * Step16, 0x8000u},
        {"largest positive", AngleScale::SignedCircle16, 180.0 - Step16, 0x7FFFu},
        {"truncated towards zero instead of rounded", AngleScale::SignedCircle16, -10.7 * Step16, 0xFFF5u},
        {"whole turns on the signed scale", AngleScale::SignedCircle16, 45.0 - 1080.0, 0x2000u},

        {"whole degrees", AngleScale::WholeDegrees, 45.0, 45u},
        {"rounded, not truncated", AngleScale::WholeDegrees, 199.6, 200u},
        {"359.5 rounds to 360, which is 0", AngleScale::WholeDegrees, 359.5, 0u},
        {"359.4 stays", AngleScale::WholeDegrees, 359.4, 359u},
        {"negative bearing", AngleScale::WholeDegrees, -90.0, 270u},
        {"a hair left of the nose", AngleScale::WholeDegrees, -0.4, 0u},
        {"more than a turn", AngleScale::WholeDegrees, 400.0, 40u},
    };
    for (const auto& c : cases) EXPECT_EQ(AngleBits(c.scale, c.degrees), c.bits) << c.fault;
}

TEST(BridgeConversionTest, TableFollowsTheSimulatorValues) {
    // A reordered table would put a value into another value's field.
    for (std::size_t i = 0; i < SimulatorValueCount; ++i)
        EXPECT_EQ(FieldConversions[i].field, SimulatorValues[i].field) << "entry " << i;
}

TEST(BridgeConversionTest, VariationIsTrueMinusMagneticEastPositive) {
    const struct {
        const char* fault;
        double trueHeading, magneticHeading;
        std::int16_t variation;  // in 65536ths of a circle
    } cases[] = {
        {"west variation: magnetic reads more", 123.4, 128.4, -910},  // -5 degrees: -910.2
        {"east variation: magnetic reads less", 100.0, 90.0, 1820},   // +10 degrees: 1820.4
        {"across north, east", 2.0, 358.0, 728},                      // +4: 728.2
        {"across north, west", 358.0, 2.0, -728},
        {"no variation", 250.0, 250.0, 0},
    };
    for (const auto& c : cases) {
        BridgeSample sample;
        sample.trueHeading = c.trueHeading;
        sample.magneticHeading = c.magneticHeading;
        RawFlightValues raw;
        ApplySample(sample, raw);
        EXPECT_EQ(raw.magneticVariation, c.variation) << c.fault;
    }
}

TEST(BridgeConversionTest, MissingOrBrokenValuesKeepTheLastGoodOne) {
    RawFlightValues raw;
    BridgeSample good;
    good.trueHeading = 90;
    good.magneticHeading = 95;
    good.vor1Relative = 10;
    good.vor2Relative = 20;
    good.adf1Relative = -45;
    good.adf2Relative = 45;
    EXPECT_EQ(ApplySample(good, raw), 6);
    const RawFlightValues before = raw;

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    BridgeSample broken;
    broken.trueHeading = nan;      // also takes the variation with it
    broken.magneticHeading = 100;  // alone it says nothing
    broken.vor1Relative = inf;
    broken.vor2Relative = -inf;
    broken.adf1Relative = nan;
    broken.adf2Relative = 90;      // the one good value
    EXPECT_EQ(ApplySample(broken, raw), 1);
    EXPECT_EQ(raw.trueHeading, before.trueHeading);
    EXPECT_EQ(raw.magneticVariation, before.magneticVariation);
    EXPECT_EQ(raw.vor1Bearing, before.vor1Bearing);
    EXPECT_EQ(raw.vor2Bearing, before.vor2Bearing);
    EXPECT_EQ(raw.adf1Bearing, before.adf1Bearing);
    EXPECT_EQ(raw.adf2Bearing, 16384);

    // An infinite heading makes the variation infinite minus something: not stored either.
    BridgeSample infinite;
    infinite.trueHeading = inf;
    infinite.magneticHeading = 10;
    EXPECT_EQ(ApplySample(infinite, raw), 0);
    EXPECT_EQ(raw.magneticVariation, before.magneticVariation);
}

TEST(BridgeConversionTest, InstrumentShowsWhatTheSimulatorReported) {
    // The instrument's card is true heading minus variation: the magnetic heading, within the
    // steps of the two fields. Swapping the variation's sign would show true + 2 x variation.
    for (double heading = 0.25; heading < 360; heading += 7.3) {
        for (double variation = -30; variation <= 30; variation += 4.9) {
            BridgeSample sample;
            sample.trueHeading = heading;
            sample.magneticHeading = heading - variation;
            sample.vor1Relative = heading;       // any angle will do for the needles
            sample.adf1Relative = heading - 180;
            sample.adf2Relative = variation * 6;
            RawFlightValues raw;
            ApplySample(sample, raw);
            InstrumentAngles vor = ConvertFlightValues(raw, true, true);
            InstrumentAngles adf = ConvertFlightValues(raw, false, false);
            double card = std::remainder(vor.card - (heading - variation), 360.0);
            EXPECT_NEAR(card, 0.0, Step32 + Step16) << heading << " " << variation;
            EXPECT_NEAR(std::remainder(vor.needle1 - heading, 360.0), 0.0, 0.5) << heading;
            EXPECT_NEAR(std::remainder(adf.needle1 - (heading - 180), 360.0), 0.0, Step16) << heading;
            EXPECT_NEAR(std::remainder(adf.needle2 - variation * 6, 360.0), 0.0, Step16) << variation;
            EXPECT_LE(std::fabs(adf.needle1), 180.0f);
        }
    }
}

}  // namespace
