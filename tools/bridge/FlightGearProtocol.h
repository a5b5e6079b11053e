// FlightGear's generic protocol as korva.xml sets it up: one text line per sample, six
// numbers separated by commas, in the order of the chunks in korva.xml. FlightGear reports
// the VOR bearings as true bearings to the station; they become relative to the nose here.
#pragma once

#include "Conversion.h"

#include <cstdint>
#include <string>
#include <vector>

namespace flightgear {

constexpr std::uint16_t DefaultPort = 5510;

// The property of each field of a line, in order (the nodes of korva.xml's chunks).
extern const char* const Properties[6];
constexpr std::size_t FieldCount = 6;

// One line (without its line end) to a sample. False when the line does not hold exactly
// six fields; a field that is no number ("nan", "", "abc") leaves its value out.
bool ParseLine(const std::string& line, BridgeSample& sample);

// A datagram may hold one or more lines, each ended by a newline (a carriage return before
// it is dropped). Appends the sample of each good line; returns how many lines were bad.
int ParseDatagram(const char* data, std::size_t length, std::vector<BridgeSample>& samples);

}  // namespace flightgear
