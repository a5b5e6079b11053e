// Network mode's sampling: the six values asked of the data server and the reduction of
// each received number to the raw field the FSUIPC frame would have read, so that both
// sources give the same picture for the same simulator state.
#pragma once

#include "base/SimulatorValues.h"

#include <cstdint>

// The heading: rounded to the nearest 64-bit integer (ties to even), low 32 bits kept;
// 0 when the number lies beyond the 64-bit range.
std::uint32_t HeadingFromReply(double number);

// A 16-bit field: rounded to the nearest signed 32-bit integer (ties to even), low 16 bits
// kept; the caller reads them as signed or unsigned. Raises RangeError beyond 32 bits.
std::uint16_t WordFromReply(double number);

// The six requests of one frame, in order, each reduced as soon as it arrives. All zero
// while the data server is not connected.
RawFlightValues SampleNetworkValues();
