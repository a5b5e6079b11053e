// The conversion of the six raw simulator values into the card and needle angles, against
// exact single-precision results worked out by hand (and with exact fractions).
#include "flightdata/FlightData.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct Case {
    const char* name;
    RawFlightValues raw;
    bool needle1Vor;
    bool needle2Vor;
    float card;
    float needle1;
    float needle2;
};

RawFlightValues Raw(std::uint32_t heading, std::int16_t variation, std::uint16_t vor1 = 0, std::uint16_t vor2 = 0,
                    std::int16_t adf1 = 0, std::int16_t adf2 = 0) {
    RawFlightValues raw;
    raw.trueHeading = heading;
    raw.magneticVariation = variation;
    raw.vor1Bearing = vor1;
    raw.vor2Bearing = vor2;
    raw.adf1Bearing = adf1;
    raw.adf2Bearing = adf2;
    return raw;
}

std::string Hex(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g (%a)", value, value);
    return text;
}

TEST(ConversionTest, AnglesAreExactInSinglePrecision) {
    const Case cases[] = {
        {"all zero, VOR sources", Raw(0, 0), true, true, 0.0f, 0.0f, 0.0f},
        {"all zero, ADF sources", Raw(0, 0), false, false, 0.0f, 0.0f, 0.0f},
        {"a quarter turn", Raw(0x40000000, 0), true, true, 90.0f, 0.0f, 0.0f},
        {"just under a full turn rounds to 360", Raw(0xFFFFFFFF, 0), true, true, 360.0f, 0.0f, 0.0f},
        {"variation -180 is added, not reduced", Raw(0x80000000, -32768), true, true, 360.0f, 0.0f, 0.0f},
        {"largest card angle", Raw(0xFFFFFFFF, -32768), true, true, 540.0f, 0.0f, 0.0f},
        {"variation +180 is subtracted", Raw(0x40000000, 32767), true, true, -89.9945068359375f, 0.0f, 0.0f},
        {"variation -1 step", Raw(0, -1), true, true, 0.0054931640625f, 0.0f, 0.0f},
        {"variation -1 step on a quarter turn", Raw(0x40000000, -1), true, true, 90.0054931640625f, 0.0f, 0.0f},
        // Rounding heading and variation to single precision first would give 169.286682.
        {"the difference is rounded once", Raw(0xD5F4B3B2, 23955), true, true, 169.2866973876953f, 0.0f, 0.0f},
        {"VOR bearings are whole degrees, not reduced", Raw(0, 0, 400, 65535), true, true, 0.0f, 400.0f, 65535.0f},
        {"ADF a quarter either way", Raw(0, 0, 0, 0, 16384, -16384), false, false, 0.0f, 90.0f, -90.0f},
        {"ADF extremes", Raw(0, 0, 0, 0, 32767, -32768), false, false, 0.0f, 179.9945068359375f, -180.0f},
        {"ADF smallest steps", Raw(0, 0, 0, 0, 1, -1), false, false, 0.0f, 0.0054931640625f, -0.0054931640625f},
        // Each needle reads its own receiver of the selected kind, and only that one.
        {"needle 1 on VOR, needle 2 on ADF", Raw(0, 0, 11, 22, 16384, -8192), true, false, 0.0f, 11.0f, -45.0f},
        {"needle 1 on ADF, needle 2 on VOR", Raw(0, 0, 11, 22, 16384, -8192), false, true, 0.0f, 90.0f, 22.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstrumentAngles angles = ConvertFlightValues(c.raw, c.needle1Vor, c.needle2Vor);
        EXPECT_EQ(angles.card, c.card) << Hex(angles.card) << " instead of " << Hex(c.card);
        EXPECT_EQ(angles.needle1, c.needle1) << Hex(angles.needle1);
        EXPECT_EQ(angles.needle2, c.needle2) << Hex(angles.needle2);
    }
}

}  // namespace
