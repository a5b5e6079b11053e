// The file formats the instrument reads its pictures from: uncompressed 24-bit Windows
// bitmap files (also under the ".txr" extension) and the icon file with one 32-bit entry.
// Written byte by byte in little-endian order, so the files are the same on every machine.
#pragma once

#include "Canvas.h"

#include <cstdint>
#include <string>
#include <vector>

// The bytes of a Windows bitmap file: BITMAPFILEHEADER, BITMAPINFOHEADER (BI_RGB, 24 bits),
// then the rows bottom-up in blue, green, red order, each padded to a multiple of 4 bytes.
std::vector<std::uint8_t> EncodeBitmapFile(const Picture& picture);

// One icon image: straight (not premultiplied) red, green, blue, alpha, top row first.
struct IconImage {
    int size = 0;
    std::vector<std::uint8_t> rgba;
};

// The bytes of an icon file with one entry: ICONDIR, ICONDIRENTRY, BITMAPINFOHEADER with the
// doubled height, the 32-bit BGRA rows bottom-up, then the 1-bit AND mask (set = transparent).
std::vector<std::uint8_t> EncodeIconFile(const IconImage& icon);

// Writes the bytes to a file; throws std::runtime_error naming the file when it cannot.
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
