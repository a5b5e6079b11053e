// Reader of Windows bitmap files (BMP, device-independent bitmaps), our own on every platform:
// it turns the instrument's pictures into the red-green-blue record the textures want, and the
// bare bitmaps inside icon files into RGBA. Portable code; it never trusts a size in a header
// (every offset is checked against the data, and pictures larger than MaxDibPixels are refused).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Largest picture, in pixels, the reader decodes (8192 x 4096); larger claims are refused
// before anything is allocated.
inline constexpr std::uint64_t MaxDibPixels = std::uint64_t{1} << 25;
// Largest file ReadBitmapFile reads into memory.
inline constexpr std::size_t MaxBitmapFileSize = std::size_t{256} << 20;

// A decoded picture: width x height pixels of red, green, blue bytes, rows from the bottom
// row of the picture to the top, each row padded with zero bytes to a multiple of 4 bytes.
struct DibImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<unsigned char> rgb;
};

// A decoded picture with transparency: width x height pixels of red, green, blue, alpha,
// rows from the TOP row down, no padding (what window icons want).
struct DibRgbaImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<unsigned char> rgba;
};

// Row length in bytes of a DibImage of this width (3 bytes a pixel, rounded up to 4).
std::size_t DibRgbRowBytes(std::int32_t width);

// Reads and decodes a bitmap file. False (and `out` untouched) when the file cannot be
// opened, is not a regular file, or cannot be decoded.
bool ReadBitmapFile(const char* path, DibImage& out);

// Decodes a whole bitmap file held in memory ("BM" file header, info header, colour table,
// pixels at the offset the file header gives). Reads 1, 4, 8, 16, 24 and 32 bits a pixel,
// RLE4, RLE8 and bit fields, bottom-up and top-down, Windows v3/v4/v5 and OS/2 v1/v2 headers.
// Refuses embedded JPEG/PNG, OS/2 Huffman and RLE24, 2 and 64 bits a pixel.
bool DecodeBitmap(const unsigned char* data, std::size_t size, DibImage& out);

// Decodes a bare bitmap: info header, colour table and pixels one after the other, as an icon
// file stores each of its pictures. With iconMask the header's height counts the colour
// picture and the 1-bit AND mask after it; the mask (or, for 32-bit pictures that carry one,
// the alpha channel) gives the transparency. Without it, alpha is 255 unless the bitmap
// has an alpha channel of its own; pixels an RLE picture skips are transparent.
bool DecodeDib(const unsigned char* data, std::size_t size, bool iconMask, DibRgbaImage& out);
