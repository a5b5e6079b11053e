// The six simulator values the instrument shows, as the simulator holds them, and the one
// table that says where each lives: its offset and size for the link, its size and code
// texts for the data server, and its field. The FSUIPC frame, the network frame, the
// stand-in's demo flight and the benchmark all go through this table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Raw values as the simulator holds them (little-endian fields).
struct RawFlightValues {
    std::uint32_t trueHeading = 0;       // full circle = 2^32
    std::int16_t magneticVariation = 0;  // east positive, full circle = 65536
    std::uint16_t vor1Bearing = 0;       // relative to the nose, whole degrees
    std::uint16_t vor2Bearing = 0;       // relative to the nose, whole degrees
    std::int16_t adf1Bearing = 0;        // relative to the nose, full circle = 65536
    std::int16_t adf2Bearing = 0;        // relative to the nose, full circle = 65536
};

struct SimulatorValue {
    std::uint16_t offset;  // where the simulator keeps it
    std::uint8_t size;     // bytes: 4 for the heading, 2 for the others
    const char* sizeText;  // the data server's request is "offset,size,code"
    const char* codeText;
    std::size_t field;     // offsetof the field in RawFlightValues
};

// In the order every frame asks for them.
inline constexpr SimulatorValue SimulatorValues[] = {
    {0x0580, 4, "4", "5", offsetof(RawFlightValues, trueHeading)},
    {0x02A0, 2, "2", "4", offsetof(RawFlightValues, magneticVariation)},
    {0x0C56, 2, "2", "6", offsetof(RawFlightValues, vor1Bearing)},
    {0x0C5C, 2, "2", "6", offsetof(RawFlightValues, vor2Bearing)},
    {0x0C6A, 2, "2", "6", offsetof(RawFlightValues, adf1Bearing)},
    {0x02D8, 2, "2", "6", offsetof(RawFlightValues, adf2Bearing)},
};
inline constexpr std::size_t SimulatorValueCount = sizeof SimulatorValues / sizeof SimulatorValues[0];

// The field of one value, for reads that land straight in it.
inline void* FieldAddress(RawFlightValues& raw, const SimulatorValue& value) {
    return reinterpret_cast<unsigned char*>(&raw) + value.field;
}

// The field's bits, zero-extended (a signed field thus gives its two's-complement pattern).
inline std::uint32_t FieldBits(const RawFlightValues& raw, const SimulatorValue& value) {
    const unsigned char* at = reinterpret_cast<const unsigned char*>(&raw) + value.field;
    if (value.size == 4) {
        std::uint32_t bits;
        std::memcpy(&bits, at, 4);
        return bits;
    }
    std::uint16_t bits;
    std::memcpy(&bits, at, 2);
    return bits;
}

// Stores the low bits that fit the field.
inline void SetFieldBits(RawFlightValues& raw, const SimulatorValue& value, std::uint32_t bits) {
    void* at = FieldAddress(raw, value);
    if (value.size == 4) {
        std::memcpy(at, &bits, 4);
    } else {
        std::uint16_t word = static_cast<std::uint16_t>(bits);
        std::memcpy(at, &word, 2);
    }
}
