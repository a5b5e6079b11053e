// The six simulator values of one frame turned into the card and needle angles; the same
// for both sources of flight data.
#pragma once

#include "base/SimulatorValues.h"

struct InstrumentAngles {
    float card = 0;
    float needle1 = 0;
    float needle2 = 0;
};

// The angles the instrument shows for these values and needle sources.
InstrumentAngles ConvertFlightValues(const RawFlightValues& raw, bool needle1Vor, bool needle2Vor);
