// Little-endian byte order, the order of every file and wire format the program reads or
// writes (bitmaps, icons, the link block, the link's transport), on any processor.
#pragma once

#include <cstdint>

inline std::uint16_t GetLe16(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}
inline std::uint32_t GetLe32(const unsigned char* at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}
inline std::uint64_t GetLe64(const unsigned char* at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}
inline void PutLe32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline void PutLe64(unsigned char* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
