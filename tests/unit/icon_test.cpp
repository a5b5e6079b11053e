// Tests of the posix LoadImageA/DestroyIcon: icon files built here (32-bit with alpha, 24- and
// 4-bit with an AND mask, several sizes in one file), and files that are missing, folders or cut short.
#include "platform/posix/posix_icon.h"

#include "platform/System.h"
#include "platform/Window.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, unsigned v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}

// One picture of an icon file: the colour rows and the mask rows, bottom row first, each
// already padded to 4 bytes as the file stores them.
struct Picture {
    int width;
    int height;
    int bitCount;
    std::vector<std::uint32_t> palette;  // 0x00RRGGBB
    Bytes colourRows;
    Bytes maskRows;
};

Bytes BuildDib(const Picture& p) {
    Bytes b;
    Put32(b, 40);
    Put32(b, p.width);
    Put32(b, p.height * 2);  // colour picture and mask
    Put16(b, 1);
    Put16(b, p.bitCount);
    Put32(b, 0);
    Put32(b, p.colourRows.size() + p.maskRows.size());
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, p.palette.size());
    Put32(b, 0);
    for (auto c : p.palette) Put32(b, c);
    b.insert(b.end(), p.colourRows.begin(), p.colourRows.end());
    b.insert(b.end(), p.maskRows.begin(), p.maskRows.end());
    return b;
}

struct Entry {
    int width;
    int height;
    int bitCount;
    Bytes data;  // a bitmap from BuildDib, or anything else
};

Bytes BuildIcon(const std::vector<Entry>& entries) {
    Bytes b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, entries.size());
    std::uint32_t offset = 6 + 16 * entries.size();
    for (const auto& e : entries) {
        b.push_back(e.width & 0xFF);
        b.push_back(e.height & 0xFF);
        b.push_back(0);
        b.push_back(0);
        Put16(b, 1);
        Put16(b, e.bitCount);
        Put32(b, e.data.size());
        Put32(b, offset);
        offset += e.data.size();
    }
    for (const auto& e : entries) b.insert(b.end(), e.data.begin(), e.data.end());
    return b;
}

// A one-colour square picture of the given depth (palette entry 1 for the palette depths).
Picture Square(int size, int bitCount, std::uint32_t colour) {
    Picture p{size, size, bitCount, {}, {}, {}};
    const std::size_t rowBytes = (size * bitCount + 31) / 32 * 4;
    const std::size_t maskRow = (size + 31) / 32 * 4;
    Bytes row(rowBytes, 0);
    if (bitCount <= 8) {
        p.palette = {0, colour};
        for (int x = 0; x < size; ++x) {
            const int bit = x * bitCount + bitCount - 1;
            row[bit / 8] |= 0x80 >> (bit % 8);  // index 1
        }
    } else {
        const int bytes = bitCount / 8;
        for (int x = 0; x < size; ++x) {
            row[x * bytes] = colour & 0xFF;
            row[x * bytes + 1] = (colour >> 8) & 0xFF;
            row[x * bytes + 2] = (colour >> 16) & 0xFF;
            if (bytes == 4) row[x * bytes + 3] = 255;
        }
    }
    for (int y = 0; y < size; ++y) p.colourRows.insert(p.colourRows.end(), row.begin(), row.end());
    p.maskRows.assign(maskRow * size, 0);
    return p;
}

std::string AsString(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// The 3 x 2 picture of the mask tests: bottom row red, green, blue; top row white, black, grey.
// Mask: the bottom row's middle pixel and the top row's outer pixels are transparent.
const Bytes MaskRows = {0x40, 0, 0, 0, 0xA0, 0, 0, 0};
const Bytes ExpectedMasked = {255, 255, 255, 0,   0, 0, 0, 255,   128, 128, 128, 0,
                              255, 0, 0, 255,     0, 255, 0, 0,   0, 0, 255, 255};

Picture Masked24() {
    return {3, 2, 24, {},
            {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0,
             255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0},
            MaskRows};
}

Picture Masked4() {
    // Palette: 0 black, 1 red, 2 green, 3 blue, 4 white, 5 grey; two pixels in each byte.
    return {3, 2, 4, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080},
            {0x12, 0x30, 0, 0, 0x40, 0x50, 0, 0},
            MaskRows};
}

struct Loaded {
    HICON icon = nullptr;
    DWORD error = 0;
    int width = 0;
    int height = 0;
    Bytes rgba;
};

Loaded LoadIconFile(const std::string& path, int cx = 0, int cy = 0) {
    Loaded l;
    SetLastError(0);
    l.icon = static_cast<HICON>(LoadImageA(nullptr, path.c_str(), IMAGE_ICON, cx, cy,
                                           LR_LOADFROMFILE | LR_DEFAULTSIZE));
    l.error = GetLastError();
    const unsigned char* pixels = nullptr;
    if (l.icon && PosixIconPixels(l.icon, l.width, l.height, pixels))
        l.rgba.assign(pixels, pixels + std::size_t(l.width) * l.height * 4);
    return l;
}

TEST(IconFile, BitmapEntriesBecomeTopDownRgba) {
    testsupport::TempDir dir;
    // 2 x 2, 32 bits with alpha: bottom row red (opaque), green (half); top row blue
    // (transparent), white (opaque). The mask is clear: the alpha channel rules.
    const Picture alpha32{2, 2, 32, {},
                          {0, 0, 255, 255, 0, 255, 0, 128, 255, 0, 0, 0, 255, 255, 255, 255},
                          {0, 0, 0, 0, 0, 0, 0, 0}};
    const Bytes expected32 = {0, 0, 255, 0, 255, 255, 255, 255, 255, 0, 0, 255, 0, 255, 0, 128};
    // 32 bits whose alpha bytes are all zero: the mask decides instead.
    Picture noAlpha32{3, 2, 32, {}, {}, MaskRows};
    for (int i = 0; i < 6; ++i) {
        static const unsigned char colours[6][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                                                    {255, 255, 255}, {0, 0, 0}, {128, 128, 128}};
        noAlpha32.colourRows.insert(noAlpha32.colourRows.end(),
                                    {colours[i][2], colours[i][1], colours[i][0], 0});
    }

    const struct {
        const char* what;
        Picture picture;
        Bytes expected;
    } cases[] = {
        {"32-bit with alpha", alpha32, expected32},
        {"32-bit with empty alpha uses the mask", noAlpha32, ExpectedMasked},
        {"24-bit with AND mask", Masked24(), ExpectedMasked},
        {"4-bit with AND mask", Masked4(), ExpectedMasked},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.File("plane2.ico");
        const Picture& p = c.picture;
        testsupport::WriteWholeFile(path, AsString(BuildIcon({{p.width, p.height, p.bitCount, BuildDib(p)}})));
        const Loaded l = LoadIconFile(path);
        ASSERT_NE(l.icon, nullptr) << "error " << l.error;
        EXPECT_EQ(l.width, p.width);
        EXPECT_EQ(l.height, p.height);
        EXPECT_EQ(l.rgba, c.expected);
        EXPECT_TRUE(DestroyIcon(l.icon));
    }
}

TEST(IconFile, PicksTheEntryNearestTheAskedSize) {
    testsupport::TempDir dir;
    const std::string path = dir.File("plane2.ico");
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    png.resize(64, 0);
    Bytes broken = BuildDib(Square(40, 24, 0x00FFFF));
    broken[12] = 0;  // planes 0: no bitmap reader takes it
    testsupport::WriteWholeFile(
        path, AsString(BuildIcon({{16, 16, 24, BuildDib(Square(16, 24, 0xFF0000))},
                                  {32, 32, 4, BuildDib(Square(32, 4, 0x00FF00))},
                                  {32, 32, 32, png},
                                  {32, 32, 32, BuildDib(Square(32, 32, 0x0000FF))},
                                  {40, 40, 24, broken},
                                  {48, 48, 8, BuildDib(Square(48, 8, 0xFFFFFF))}})));

    const struct {
        const char* what;
        int cx, cy;
        int width;
        unsigned char red, green, blue;
    } cases[] = {
        {"default size: 32 x 32, the deeper of the two bitmaps, not the PNG", 0, 0, 32, 0, 0, 255},
        {"asked 48", 48, 48, 48, 255, 255, 255},
        {"asked 20: 16 is nearest", 20, 20, 16, 255, 0, 0},
        {"asked 40: that entry cannot be read, the next nearest serves", 40, 40, 32, 0, 0, 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Loaded l = LoadIconFile(path, c.cx, c.cy);
        ASSERT_NE(l.icon, nullptr);
        EXPECT_EQ(l.width, c.width);
        EXPECT_EQ(l.height, c.width);
        ASSERT_FALSE(l.rgba.empty());
        const Bytes centre(l.rgba.begin() + (l.rgba.size() / 2), l.rgba.begin() + (l.rgba.size() / 2) + 4);
        EXPECT_EQ(centre, Bytes({c.red, c.green, c.blue, 255}));
        DestroyIcon(l.icon);
    }
}

TEST(IconFile, FailuresGiveNoIconAndTheWindowsError) {
    testsupport::TempDir dir;
    const Bytes good = BuildIcon({{3, 2, 24, BuildDib(Masked24())}});
    std::filesystem::create_directory(dir.File("folder.ico"));
    testsupport::WriteWholeFile(dir.File("text.ico"), "not an icon");
    testsupport::WriteWholeFile(dir.File("png-only.ico"),
                                AsString(BuildIcon({{32, 32, 32, Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}}})));
    // Cut inside the directory, the entry table, the bitmap header, the colours and the mask.
    const std::size_t cuts[] = {0, 4, 10, 30, 60, good.size() - 10, good.size() - 4};
    for (std::size_t cut : cuts)
        testsupport::WriteWholeFile(dir.File("cut" + std::to_string(cut) + ".ico"),
                                    AsString(Bytes(good.begin(), good.begin() + cut)));

    std::vector<std::pair<std::string, DWORD>> cases = {
        {dir.File("missing.ico"), ERROR_FILE_NOT_FOUND},
        {dir.File("nofolder/plane2.ico"), ERROR_FILE_NOT_FOUND},
        {dir.File("folder.ico"), ERROR_ACCESS_DENIED},
        {dir.File("text.ico"), 13 /* ERROR_INVALID_DATA */},
        {dir.File("png-only.ico"), 13},
    };
    for (std::size_t cut : cuts) cases.push_back({dir.File("cut" + std::to_string(cut) + ".ico"), 13});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const Loaded l = LoadIconFile(c.first);
        EXPECT_EQ(l.icon, nullptr);
        EXPECT_EQ(l.error, c.second);
    }

    // Only files can be loaded, and only as icons.
    testsupport::WriteWholeFile(dir.File("plane2.ico"), AsString(good));
    SetLastError(0);
    EXPECT_EQ(LoadImageA(nullptr, dir.File("plane2.ico").c_str(), IMAGE_ICON, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadImageA(nullptr, nullptr, IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
}

TEST(IconFile, DestroyedHandlesAreRefused) {
    testsupport::TempDir dir;
    testsupport::WriteWholeFile(dir.File("plane2.ico"), AsString(BuildIcon({{3, 2, 4, BuildDib(Masked4())}})));
    const Loaded l = LoadIconFile(dir.File("plane2.ico"));
    ASSERT_NE(l.icon, nullptr);
    EXPECT_TRUE(DestroyIcon(l.icon));

    int width = 0, height = 0;
    const unsigned char* rgba = nullptr;
    EXPECT_FALSE(PosixIconPixels(l.icon, width, height, rgba));
    EXPECT_FALSE(PosixIconPixels(nullptr, width, height, rgba));
    SetLastError(0);
    EXPECT_FALSE(DestroyIcon(l.icon));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

}  // namespace
