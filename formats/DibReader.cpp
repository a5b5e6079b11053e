// Reader of Windows bitmap files and of the bare bitmaps inside icon files.
// The header is parsed into one layout record (size, pixel format, colour table, where the
// pixels start) with every offset checked against the data; the pixels are then decoded into
// a canvas that knows the output layout. Files that lie about their sizes are normal here:
// bfSize, biSizeImage and the densities are never used.
#include "formats/DibReader.h"

#include "formats/ByteOrder.h"

#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>
#include <utility>

namespace {

// Compression codes of the info header.
constexpr std::uint32_t CompressionRgb = 0;
constexpr std::uint32_t CompressionRle8 = 1;
constexpr std::uint32_t CompressionRle4 = 2;
constexpr std::uint32_t CompressionBitfields = 3;

constexpr std::size_t FileHeaderSize = 14;
constexpr std::int64_t MaxDimension = 65536;

std::int64_t S32(const unsigned char* p) {
    const std::uint32_t v = GetLe32(p);
    return v < 0x80000000u ? static_cast<std::int64_t>(v)
                           : static_cast<std::int64_t>(v) - (std::int64_t{1} << 32);
}

// One colour channel of a 16- or 32-bit pixel, from its mask.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    // False for a mask whose bits are not one run (no program writes those).
    bool Set(std::uint32_t m) {
        mask = m;
        shift = 0;
        bits = 0;
        if (m == 0) return true;
        while ((m & 1u) == 0) {
            m >>= 1;
            ++shift;
        }
        while (m & 1u) {
            m >>= 1;
            ++bits;
        }
        return m == 0;
    }

    // The channel widened or narrowed to 8 bits. Narrow fields repeat their bits so that
    // the largest value becomes 255 (a 5-bit 31 is white, not 248).
    unsigned Extract(std::uint32_t pixel) const {
        if (bits == 0) return 0;
        const std::uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8) return v >> (bits - 8);
        std::uint32_t widened = 0;
        int filled = 0;
        while (filled < 8) {
            widened = (widened << bits) | v;
            filled += bits;
        }
        return widened >> (filled - 8);
    }
};

struct Layout {
    std::int64_t width = 0;
    std::int64_t height = 0;  // rows of the picture (without an icon's mask)
    bool topDown = false;
    unsigned bitCount = 0;
    std::uint32_t compression = CompressionRgb;
    Channel red, green, blue, alpha;
    // Entries the file does not define stay black, so any index is safe to look up.
    unsigned char palette[256][3] = {};
    std::size_t pixelOffset = 0;
};

// Parses the info header at headerAt. fileOffBits is the file header's pixel offset, or
// absent for a bare bitmap whose pixels follow the colour table.
bool ParseLayout(const unsigned char* data, std::size_t size, std::size_t headerAt,
                 const std::uint32_t* fileOffBits, bool iconMask, Layout& out) {
    if (headerAt > size || size - headerAt < 4) return false;
    const std::uint32_t headerSize = GetLe32(data + headerAt);
    if (headerSize < 12 || headerSize > size - headerAt) return false;
    const unsigned char* h = data + headerAt;

    const bool os2v1 = headerSize == 12;
    const bool windows = headerSize == 40 || headerSize == 52 || headerSize == 56 ||
                         headerSize == 108 || headerSize == 124;
    // OS/2 v2 headers may be cut anywhere from 16 to 64 bytes; a 40-byte one reads as Windows v3.
    const bool os2v2 = !windows && headerSize >= 16 && headerSize <= 64;
    if (!os2v1 && !windows && !os2v2) return false;

    std::int64_t width, height;
    unsigned planes;
    std::uint32_t compression = CompressionRgb;
    std::uint32_t colorsUsed = 0;
    if (os2v1) {
        width = GetLe16(h + 4);
        height = GetLe16(h + 6);
        planes = GetLe16(h + 8);
        out.bitCount = GetLe16(h + 10);
    } else {
        width = S32(h + 4);
        height = S32(h + 8);
        planes = GetLe16(h + 12);
        out.bitCount = GetLe16(h + 14);
        if (headerSize >= 20) compression = GetLe32(h + 16);
        if (headerSize >= 36) colorsUsed = GetLe32(h + 32);
        // OS/2 gives 3 and 4 other meanings (Huffman 1D, RLE24), which we do not read.
        if (os2v2 && compression > CompressionRle4) return false;
    }
    if (planes != 1) return false;
    if (width <= 0 || height == 0) return false;
    out.topDown = height < 0;
    if (out.topDown) height = -height;
    if (iconMask) {
        if (out.topDown) return false;
        height /= 2;
        if (height == 0) return false;
    }
    if (width > MaxDimension || height > MaxDimension ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > MaxDibPixels)
        return false;
    out.width = width;
    out.height = height;

    const unsigned bpp = out.bitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    switch (compression) {
    case CompressionRgb:
        break;
    case CompressionRle8:
        if (bpp != 8 || iconMask) return false;
        break;
    case CompressionRle4:
        if (bpp != 4 || iconMask) return false;
        break;
    case CompressionBitfields:
        if (bpp != 16 && bpp != 32) return false;
        break;
    default:  // embedded JPEG or PNG, alpha bit fields of Windows CE, unknown codes
        return false;
    }
    out.compression = compression;

    std::uint64_t cursor = headerAt + headerSize;
    std::uint32_t masks[4] = {0, 0, 0, 0};
    if (bpp == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (bpp == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
        // An icon's 32-bit picture keeps its alpha in the fourth byte.
        if (iconMask) masks[3] = 0xFF000000;
    }
    if (compression == CompressionBitfields) {
        if (headerSize >= 52) {
            masks[0] = GetLe32(h + 40);
            masks[1] = GetLe32(h + 44);
            masks[2] = GetLe32(h + 48);
            masks[3] = headerSize >= 56 ? GetLe32(h + 52) : 0;
        } else {
            if (size - cursor < 12) return false;
            masks[0] = GetLe32(data + cursor);
            masks[1] = GetLe32(data + cursor + 4);
            masks[2] = GetLe32(data + cursor + 8);
            masks[3] = 0;
            cursor += 12;
        }
    }
    if (!out.red.Set(masks[0]) || !out.green.Set(masks[1]) || !out.blue.Set(masks[2]) ||
        !out.alpha.Set(masks[3]))
        return false;

    // The colour table. Its length is the header's count, or the full 2^bpp, but never more
    // than fits before the pixels.
    const std::uint64_t paletteStart = cursor;
    const std::uint64_t entrySize = os2v1 ? 3 : 4;
    const bool offBitsUsable =
        fileOffBits != nullptr && *fileOffBits >= paletteStart && *fileOffBits <= size;
    const std::uint64_t tableLimit = offBitsUsable ? *fileOffBits : size;
    std::uint64_t entries = 0;
    if (bpp <= 8) {
        const std::uint64_t full = std::uint64_t{1} << bpp;
        const std::uint64_t room = (tableLimit - paletteStart) / entrySize;
        if (colorsUsed == 0) {
            entries = full < room ? full : room;
        } else {
            // An explicit count the file has no room for is a broken header, not a short table.
            if (colorsUsed > room) return false;
            entries = colorsUsed;
        }
        const std::uint64_t readable = entries < full ? entries : full;
        for (std::uint64_t i = 0; i < readable; ++i) {
            const unsigned char* e = data + paletteStart + i * entrySize;
            out.palette[i][0] = e[2];
            out.palette[i][1] = e[1];
            out.palette[i][2] = e[0];
        }
    } else {
        // A colour table before 16-, 24- or 32-bit pixels is only a display hint.
        entries = colorsUsed;
    }

    if (offBitsUsable) {
        out.pixelOffset = *fileOffBits;
    } else {
        const std::uint64_t end = paletteStart + entries * entrySize;  // entries < 2^32
        if (end > size) return false;
        out.pixelOffset = static_cast<std::size_t>(end);
    }
    return true;
}

// Where decoded pixels go: bottom-up padded RGB rows, or top-down RGBA rows.
class Canvas {
public:
    Canvas(bool rgba, std::int64_t width, std::int64_t height, std::vector<unsigned char>& buffer)
        : rgba_(rgba), width_(static_cast<std::size_t>(width)), height_(static_cast<std::size_t>(height)),
          buffer_(buffer) {
        stride_ = rgba_ ? width_ * 4 : DibRgbRowBytes(static_cast<std::int32_t>(width));
        buffer_.assign(stride_ * height_, 0);
    }

    // y counts rows from the bottom of the picture; the caller keeps x and y inside it.
    void Put(std::size_t x, std::size_t y, unsigned r, unsigned g, unsigned b, unsigned a) {
        if (rgba_) {
            unsigned char* p = buffer_.data() + (height_ - 1 - y) * stride_ + x * 4;
            p[0] = static_cast<unsigned char>(r);
            p[1] = static_cast<unsigned char>(g);
            p[2] = static_cast<unsigned char>(b);
            p[3] = static_cast<unsigned char>(a);
        } else {
            unsigned char* p = buffer_.data() + y * stride_ + x * 3;
            p[0] = static_cast<unsigned char>(r);
            p[1] = static_cast<unsigned char>(g);
            p[2] = static_cast<unsigned char>(b);
        }
    }

    unsigned char* AlphaAt(std::size_t x, std::size_t y) {
        return buffer_.data() + (height_ - 1 - y) * stride_ + x * 4 + 3;
    }

private:
    bool rgba_;
    std::size_t width_, height_, stride_;
    std::vector<unsigned char>& buffer_;
};

// Bytes of one stored row of `bits`-bit pixels, padded to 4 bytes.
std::uint64_t StoredRowBytes(std::uint64_t width, unsigned bits) {
    return (width * bits + 31) / 32 * 4;
}

// Uncompressed pixels. The last row may lack its padding; anything shorter is refused.
// Sets anyAlpha when a pixel carries a nonzero alpha value.
bool DecodeUncompressed(const unsigned char* data, std::size_t size, const Layout& l,
                        Canvas& canvas, bool& anyAlpha) {
    const std::uint64_t rowBytes = StoredRowBytes(l.width, l.bitCount);
    const std::uint64_t lastRow = (static_cast<std::uint64_t>(l.width) * l.bitCount + 7) / 8;
    const std::uint64_t needed = rowBytes * (l.height - 1) + lastRow;
    if (l.pixelOffset > size || needed > size - l.pixelOffset) return false;

    const std::size_t width = static_cast<std::size_t>(l.width);
    const std::size_t height = static_cast<std::size_t>(l.height);
    const bool hasAlpha = l.alpha.bits != 0;
    for (std::size_t r = 0; r < height; ++r) {
        const unsigned char* row = data + l.pixelOffset + r * rowBytes;
        const std::size_t y = l.topDown ? height - 1 - r : r;
        for (std::size_t x = 0; x < width; ++x) {
            switch (l.bitCount) {
            case 1:
            case 4:
            case 8: {
                const std::size_t bit = x * l.bitCount;
                const unsigned shift = 8 - l.bitCount - (bit % 8);
                const unsigned index = (row[bit / 8] >> shift) & ((1u << l.bitCount) - 1);
                const unsigned char* c = l.palette[index];
                canvas.Put(x, y, c[0], c[1], c[2], 255);
                break;
            }
            case 24: {
                const unsigned char* p = row + x * 3;
                canvas.Put(x, y, p[2], p[1], p[0], 255);
                break;
            }
            default: {
                const std::uint32_t v = l.bitCount == 16 ? GetLe16(row + x * 2) : GetLe32(row + x * 4);
                const unsigned a = hasAlpha ? l.alpha.Extract(v) : 255;
                if (hasAlpha && a != 0) anyAlpha = true;
                canvas.Put(x, y, l.red.Extract(v), l.green.Extract(v), l.blue.Extract(v), a);
                break;
            }
            }
        }
    }
    return true;
}

// RLE8 and RLE4 streams. Pixels the stream skips (deltas, early end of line or bitmap) stay
// zero; runs past the right edge or the top are clipped. A stream cut short keeps what it drew.
void DecodeRle(const unsigned char* data, std::size_t size, const Layout& l, Canvas& canvas) {
    const bool rle4 = l.compression == CompressionRle4;
    const std::int64_t width = l.width;
    const std::int64_t height = l.height;
    std::size_t pos = l.pixelOffset;
    std::int64_t x = 0;
    std::int64_t row = 0;  // stored rows, counted from the first one in the file

    auto put = [&](unsigned index) {
        if (x < width && row < height) {
            const std::int64_t y = l.topDown ? height - 1 - row : row;
            const unsigned char* c = l.palette[index];
            canvas.Put(static_cast<std::size_t>(x), static_cast<std::size_t>(y), c[0], c[1], c[2], 255);
        }
        ++x;
    };

    while (row < height && pos <= size && size - pos >= 2) {
        const unsigned count = data[pos];
        const unsigned value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count && x < width; ++i)
                put(rle4 ? ((i % 2 == 0) ? value >> 4 : value & 0x0F) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++row;
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta: move right and up
            if (size - pos < 2) break;
            x += data[pos];
            row += data[pos + 1];
            pos += 2;
        } else {  // absolute run of `value` indices, padded to a 16-bit boundary
            const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
            const std::size_t padded = (bytes + 1) & ~std::size_t{1};
            const std::size_t available = size - pos < bytes ? size - pos : bytes;
            for (unsigned i = 0; i < value; ++i) {
                const std::size_t byteIndex = rle4 ? i / 2 : i;
                if (byteIndex >= available || x >= width) break;
                const unsigned char b = data[pos + byteIndex];
                put(rle4 ? ((i % 2 == 0) ? b >> 4 : b & 0x0F) : b);
            }
            if (size - pos < padded) break;
            pos += padded;
        }
    }
}

// The whole decode of one bitmap whose layout is known.
bool DecodePixels(const unsigned char* data, std::size_t size, const Layout& l, Canvas& canvas,
                  bool& anyAlpha) {
    if (l.compression == CompressionRle8 || l.compression == CompressionRle4) {
        DecodeRle(data, size, l, canvas);
        return true;
    }
    return DecodeUncompressed(data, size, l, canvas, anyAlpha);
}

// Applies an icon's AND mask (set bit: transparent) as alpha. False when the mask is missing.
bool ApplyIconMask(const unsigned char* data, std::size_t size, const Layout& l, Canvas& canvas) {
    const std::uint64_t colourBytes = StoredRowBytes(l.width, l.bitCount) * l.height;
    const std::uint64_t maskRow = StoredRowBytes(l.width, 1);
    const std::uint64_t maskAt = l.pixelOffset + colourBytes;
    const std::uint64_t needed = maskRow * (l.height - 1) + (l.width + 7) / 8;
    if (maskAt > size || needed > size - maskAt) return false;
    const std::size_t width = static_cast<std::size_t>(l.width);
    const std::size_t height = static_cast<std::size_t>(l.height);
    for (std::size_t y = 0; y < height; ++y) {
        const unsigned char* row = data + maskAt + y * maskRow;
        for (std::size_t x = 0; x < width; ++x) {
            const bool transparent = (row[x / 8] >> (7 - x % 8)) & 1;
            *canvas.AlphaAt(x, y) = transparent ? 0 : 255;
        }
    }
    return true;
}

}  // namespace

std::size_t DibRgbRowBytes(std::int32_t width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

bool DecodeBitmap(const unsigned char* data, std::size_t size, DibImage& out) {
    if (data == nullptr || size < FileHeaderSize || data[0] != 'B' || data[1] != 'M') return false;
    const std::uint32_t offBits = GetLe32(data + 10);
    Layout layout;
    if (!ParseLayout(data, size, FileHeaderSize, &offBits, false, layout)) return false;
    try {
        DibImage image;
        image.width = static_cast<std::int32_t>(layout.width);
        image.height = static_cast<std::int32_t>(layout.height);
        Canvas canvas(false, layout.width, layout.height, image.rgb);
        bool anyAlpha = false;
        if (!DecodePixels(data, size, layout, canvas, anyAlpha)) return false;
        out = std::move(image);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool DecodeDib(const unsigned char* data, std::size_t size, bool iconMask, DibRgbaImage& out) {
    if (data == nullptr) return false;
    Layout layout;
    if (!ParseLayout(data, size, 0, nullptr, iconMask, layout)) return false;
    try {
        DibRgbaImage image;
        image.width = static_cast<std::int32_t>(layout.width);
        image.height = static_cast<std::int32_t>(layout.height);
        Canvas canvas(true, layout.width, layout.height, image.rgba);
        bool anyAlpha = false;
        if (!DecodePixels(data, size, layout, canvas, anyAlpha)) return false;
        // An alpha channel that is zero everywhere was never filled in by the program that
        // wrote the file: icons then fall back to their mask, other pictures are opaque.
        const bool useAlpha = layout.alpha.bits != 0 && anyAlpha;
        if (iconMask && !useAlpha) {
            if (!ApplyIconMask(data, size, layout, canvas)) return false;
        } else if (!useAlpha && layout.alpha.bits != 0) {
            for (std::size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = 255;
        }
        out = std::move(image);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ReadBitmapFile(const char* path, DibImage& out) {
    if (path == nullptr || *path == '\0') return false;
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), error)) return false;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::vector<unsigned char> bytes;
    bool ok = true;
    try {
        // Read in pieces rather than trusting the size the folder reports.
        constexpr std::size_t Piece = 64 * 1024;
        for (;;) {
            const std::size_t had = bytes.size();
            if (had >= MaxBitmapFileSize) {
                ok = std::fgetc(file) == EOF && !std::ferror(file);
                break;
            }
            const std::size_t want = Piece < MaxBitmapFileSize - had ? Piece : MaxBitmapFileSize - had;
            bytes.resize(had + want);
            const std::size_t got = std::fread(bytes.data() + had, 1, want, file);
            bytes.resize(had + got);
            if (got < want) {
                ok = !std::ferror(file);
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    std::fclose(file);
    return ok && DecodeBitmap(bytes.data(), bytes.size(), out);
}
