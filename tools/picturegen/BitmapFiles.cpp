// Windows bitmap and icon file writers of the picture generator.
// Sizes are checked before anything is written; every field is written little-endian.
#include "BitmapFiles.h"

#include <cstdio>
#include <stdexcept>

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

constexpr std::uint32_t FileHeaderSize = 14;
constexpr std::uint32_t InfoHeaderSize = 40;

void PutInfoHeader(std::vector<std::uint8_t>& out, int width, int height, int bits,
                   std::uint32_t imageSize) {
    Put32(out, InfoHeaderSize);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    Put16(out, 1);  // planes
    Put16(out, static_cast<std::uint32_t>(bits));
    Put32(out, 0);  // BI_RGB: uncompressed
    Put32(out, imageSize);
    Put32(out, 2835);  // 72 dpi, as paint programs write it
    Put32(out, 2835);
    Put32(out, 0);  // no palette
    Put32(out, 0);
}

}  // namespace

std::vector<std::uint8_t> EncodeBitmapFile(const Picture& picture) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
        throw std::invalid_argument("picture without pixels");
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(picture.width) * 3 + 3) & ~3u;
    const std::uint32_t imageSize = rowBytes * static_cast<std::uint32_t>(picture.height);
    std::vector<std::uint8_t> out;
    out.reserve(FileHeaderSize + InfoHeaderSize + imageSize);
    out.push_back('B');
    out.push_back('M');
    Put32(out, FileHeaderSize + InfoHeaderSize + imageSize);
    Put32(out, 0);  // reserved
    Put32(out, FileHeaderSize + InfoHeaderSize);
    PutInfoHeader(out, picture.width, picture.height, 24, imageSize);
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* p = picture.At(x, y);
            out.push_back(p[2]);
            out.push_back(p[1]);
            out.push_back(p[0]);
        }
        for (std::uint32_t pad = static_cast<std::uint32_t>(picture.width) * 3; pad < rowBytes; ++pad)
            out.push_back(0);
    }
    return out;
}

std::vector<std::uint8_t> EncodeIconFile(const IconImage& icon) {
    const int n = icon.size;
    if (n <= 0 || n > 256 || icon.rgba.size() != static_cast<std::size_t>(n) * n * 4)
        throw std::invalid_argument("icon without pixels");
    const std::uint32_t colourBytes = static_cast<std::uint32_t>(n * n * 4);
    const std::uint32_t maskRow = ((static_cast<std::uint32_t>(n) + 31) / 32) * 4;
    const std::uint32_t maskBytes = maskRow * static_cast<std::uint32_t>(n);
    const std::uint32_t entryBytes = InfoHeaderSize + colourBytes + maskBytes;

    std::vector<std::uint8_t> out;
    Put16(out, 0);  // reserved
    Put16(out, 1);  // type: icon
    Put16(out, 1);  // one image
    out.push_back(static_cast<std::uint8_t>(n == 256 ? 0 : n));
    out.push_back(static_cast<std::uint8_t>(n == 256 ? 0 : n));
    out.push_back(0);  // no palette
    out.push_back(0);
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    Put32(out, entryBytes);
    Put32(out, 6 + 16);  // the image follows the directory

    PutInfoHeader(out, n, 2 * n, 32, colourBytes + maskBytes);
    for (int y = n - 1; y >= 0; --y) {
        for (int x = 0; x < n; ++x) {
            const std::uint8_t* p = &icon.rgba[(static_cast<std::size_t>(y) * n + x) * 4];
            out.push_back(p[2]);
            out.push_back(p[1]);
            out.push_back(p[0]);
            out.push_back(p[3]);
        }
    }
    // Shells that ignore the alpha channel use the AND mask: a set bit lets the desktop show.
    for (int y = n - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(maskRow, 0);
        for (int x = 0; x < n; ++x)
            if (icon.rgba[(static_cast<std::size_t>(y) * n + x) * 4 + 3] < 128)
                row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}
