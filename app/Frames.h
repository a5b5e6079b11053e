// The two frame operations of the main loop: sample the six values from the configured
// source, pause 1 ms, convert them and draw.
#pragma once

#include "base/SimulatorValues.h"

// Converts with the current needle sources, draws the frame and notes it in the status file.
void HandOverToDrawing(const RawFlightValues& raw);

// One frame in FSUIPC mode: six reads in one exchange, 1 ms pause, conversion, drawing.
bool DrawSceneFsuipc();
// One frame in network mode: six value requests, 1 ms pause, conversion, drawing.
bool DrawSceneNetwork();
