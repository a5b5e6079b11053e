// The six simulator values of one frame, their conversion into the card and needle
// angles, and the hand-over to the drawing; shared by both frame operations.
#pragma once

#include <cstdint>

// Raw values as the simulator holds them (little-endian fields).
struct RawFlightValues {
    std::uint32_t trueHeading = 0;      // 0x0580, full circle = 2^32
    std::int16_t magneticVariation = 0; // 0x02A0, full circle = 65536
    std::uint16_t vor1Bearing = 0;      // 0x0C56, whole degrees
    std::uint16_t vor2Bearing = 0;      // 0x0C5C, whole degrees
    std::int16_t adf1Bearing = 0;       // 0x0C6A, full circle = 65536
    std::int16_t adf2Bearing = 0;       // 0x02D8, full circle = 65536
};

struct InstrumentAngles {
    float card = 0;
    float needle1 = 0;
    float needle2 = 0;
};

// The angles the instrument shows for these values and needle sources.
InstrumentAngles ConvertFlightValues(const RawFlightValues& raw, bool needle1Vor, bool needle2Vor);

// Converts with the current Needle1Vor/Needle2Vor and draws the frame.
void HandOverToDrawing(const RawFlightValues& raw);

// One frame in FSUIPC mode: six reads in one exchange, 1 ms pause, conversion, drawing.
bool DrawSceneFsuipc();
// One frame in network mode: six value requests, 1 ms pause, conversion, drawing.
bool DrawSceneNetwork();
