// The pictures the build draws into the run folder: each is a bitmap file the instrument can
// load, and each has the properties its drawing relies on (masks cover what their pictures
// draw, needles point up, the card's north is at the top, the font grid starts at the top).
#include "TestSupport.h"
#include "display/InstrumentGeometry.h"
#include "display/PictureFiles.h"
#include "formats/DibReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Decoded {
    DibImage image;
    // Pixel channel at column x, row y counted from the TOP of the picture.
    int At(int x, int y, int channel) const {
        const std::size_t row = static_cast<std::size_t>(image.height - 1 - y);
        return image.rgb[row * DibRgbRowBytes(image.width) + static_cast<std::size_t>(x) * 3 + channel];
    }
    int Max(int x, int y) const { return std::max({At(x, y, 0), At(x, y, 1), At(x, y, 2)}); }
    // The same at a point of the quad (-1..1 each way, y up).
    int MaxAtQuad(double qx, double qy) const {
        const int x = std::clamp(static_cast<int>((qx + 1) / 2 * image.width), 0, image.width - 1);
        const int y = std::clamp(static_cast<int>((1 - qy) / 2 * image.height), 0, image.height - 1);
        return Max(x, y);
    }
};

Decoded Load(const std::string& name) {
    Decoded d;
    const std::string path = testsupport::RunDir() + "/" + name;
    EXPECT_TRUE(ReadBitmapFile(path.c_str(), d.image)) << path;
    return d;
}

bool PowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

// Every bitmap the instrument opens, by its own list.
std::vector<std::string> AllBitmaps() {
    std::vector<std::string> names;
    for (const PictureFile& file : PictureFiles) names.push_back(file.name);
    names.push_back(FontFile);
    return names;
}

// The instrument uploads pictures at their own size, so a size the GL refuses, a compressed
// file or a palette picture would leave a blank texture.
TEST(Pictures, EveryFileIsAnUncompressed24BitBitmapOfPowerOfTwoSize) {
    for (const std::string& name : AllBitmaps()) {
        SCOPED_TRACE(name);
        const std::string bytes = testsupport::ReadWholeFile(testsupport::RunDir() + "/" + name);
        ASSERT_GE(bytes.size(), 54u);
        EXPECT_EQ(bytes.substr(0, 2), "BM");
        EXPECT_EQ(Le32(bytes, 14), 40u);                    // BITMAPINFOHEADER
        EXPECT_EQ(Le32(bytes, 28) & 0xFFFF, 24u);           // bits per pixel
        EXPECT_EQ(Le32(bytes, 30), 0u);                     // BI_RGB
        const Decoded d = Load(name);
        EXPECT_TRUE(PowerOfTwo(d.image.width) && PowerOfTwo(d.image.height))
            << d.image.width << " x " << d.image.height;
        EXPECT_EQ(bytes.size(), Le32(bytes, 10) + DibRgbRowBytes(d.image.width) * d.image.height);
    }
}

// Mask multiply then image add is a true "over" only if, at every pixel, the picture adds no
// more than the mask took away: white mask = black picture; a flipped, shifted or inverted
// mask breaks this at the shape's edges.
TEST(Pictures, MasksCoverExactlyWhatTheirPicturesDraw) {
    const struct {
        const char* mask;
        const char* picture;
    } pairs[] = {{"VOR_ADF_ind_mask.txr", "VOR_ADF_ind.txr"},
                 {"VOR1_mask.txr", "VOR1_ago.txr"},
                 {"VOR2_mask.txr", "VOR2_ago.txr"}};
    for (const auto& pair : pairs) {
        SCOPED_TRACE(pair.picture);
        const Decoded mask = Load(pair.mask), pic = Load(pair.picture);
        ASSERT_EQ(mask.image.width, pic.image.width);
        ASSERT_EQ(mask.image.height, pic.image.height);
        int covered = 0, clear = 0, bad = 0;
        for (int y = 0; y < pic.image.height; ++y)
            for (int x = 0; x < pic.image.width; ++x) {
                const int m = mask.At(x, y, 0);
                if (mask.At(x, y, 1) != m || mask.At(x, y, 2) != m) ++bad;
                if (pic.Max(x, y) > 255 - m + 1) ++bad;
                covered += m == 0;
                clear += m == 255;
            }
        EXPECT_EQ(bad, 0);
        EXPECT_GT(covered, 500);
        EXPECT_GT(clear, 500);
    }
}

// At angle 0 a needle must stand as its picture shows it: head up, pivot in the centre.
TEST(Pictures, NeedlesPointToTheTopAndAreBlackAroundTheirShape) {
    for (const char* name : {"VOR1_ago.txr", "VOR2_ago.txr"}) {
        SCOPED_TRACE(name);
        const Decoded d = Load(name);
        const int w = d.image.width, h = d.image.height;
        int top = h, bottom = -1, lit = 0;
        for (int y = 0; y < h; ++y) {
            if (d.Max(w / 2, y) > 128 || d.Max(w / 2 - 1, y) > 128) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
            for (int x = 0; x < w; ++x) lit += d.Max(x, y) != 0;
        }
        ASSERT_LT(top, h / 2);
        // The tip reaches further from the pivot than the tail: the head is at the top.
        EXPECT_GT(h / 2 - top, bottom - h / 2 + h / 50);
        EXPECT_GT(h / 2 - top, h * 3 / 10);  // long enough to reach the graduations
        EXPECT_LT(lit, w * h / 10);
        for (double a = 0; a < 360; a += 15) {  // nothing beyond the card's rim
            const double rad = a * M_PI / 180.0;
            EXPECT_EQ(d.MaxAtQuad(0.95 * std::sin(rad), 0.95 * std::cos(rad)), 0) << a;
        }
    }
}

TEST(Pictures, CardShowsNorthAtTheTopAndTheFaceLetsTheCardShowThrough) {
    const Decoded card = Load("VOR_ADF.txr");
    EXPECT_GT(card.MaxAtQuad(0.0, 0.77), 200);  // the 0-degree graduation
    EXPECT_GT(card.MaxAtQuad(0.77, 0.0), 200);  // the 90-degree one, to the right
    EXPECT_EQ(card.MaxAtQuad(0.0, 0.0), 0);     // black card behind the needles' pivot
    // Values grow clockwise: "3" stands right of north, the wider "33" left of it.
    const auto ink = [&](double bearing) {
        int lit = 0;
        const double bx = 0.6 * std::sin(bearing * M_PI / 180), by = 0.6 * std::cos(bearing * M_PI / 180);
        for (double dx = -0.12; dx <= 0.12; dx += 0.005)
            for (double dy = -0.12; dy <= 0.12; dy += 0.005) lit += card.MaxAtQuad(bx + dx, by + dy) > 128;
        return lit;
    };
    EXPECT_GT(ink(330), ink(30) * 3 / 2);
    const Decoded mask = Load("VOR_ADF_ind_mask.txr"), face = Load("VOR_ADF_ind.txr");
    for (double a = 0; a < 360; a += 15) {  // the card shows all round inside the rim
        const double rad = a * M_PI / 180.0;
        EXPECT_EQ(mask.MaxAtQuad(0.5 * std::sin(rad), 0.5 * std::cos(rad)), 255) << a;
    }
    for (double c : {-0.96, 0.96})
        for (double d : {-0.96, 0.96}) {  // bezel in the corners: opaque and not black
            EXPECT_EQ(mask.MaxAtQuad(c, d), 0);
            EXPECT_GT(face.MaxAtQuad(c, d), 0);
        }
    EXPECT_EQ(mask.MaxAtQuad(0.0, 0.80), 0);  // the lubber mark at the top covers the card
}

// The selectors stand mostly beyond the window's side edges in their ADF pose: only the
// strip inside a square window (half-width 7 tan 22.5 = 2.899 at depth 7) can say "ADF".
// Placed where the drawing places them, so a moved selector fails here.
TEST(Pictures, SelectorsDrawInTheStripThatShowsInTheAdfPose) {
    const double edge = geometry::HalfHeightAt(geometry::SelectorDepth);
    EXPECT_NEAR(edge, 2.899, 0.001);
    const struct {
        int slot;
        const geometry::SelectorPlacement& placement;
    } selectors[] = {{SlotNeedle1Selector, geometry::Needle1Selector}, {SlotNeedle2Selector, geometry::Needle2Selector}};
    for (const auto& s : selectors) {
        std::string file;
        for (const PictureFile& f : PictureFiles)
            if (f.slot == s.slot) file = f.name;
        SCOPED_TRACE(file);
        const Decoded d = Load(file);
        const double halfWidth = s.placement.halfWidth;
        int inStrip = 0, elsewhere = 0;
        for (int x = 0; x < d.image.width; ++x) {
            const double worldX = s.placement.adfX - halfWidth + 2.0 * halfWidth * (x + 0.5) / d.image.width;
            for (int y = 0; y < d.image.height; ++y)
                if (d.Max(x, y) > 200) ++(std::fabs(worldX) < edge - 0.01 ? inStrip : elsewhere);
        }
        EXPECT_GT(inStrip, 150);    // the ADF marking
        EXPECT_GT(elsewhere, 150);  // the VOR knob and label, seen in the turned pose
    }
}

TEST(Pictures, ModePicturesAreLightMarkingsThatLeaveMostOfTheDialFree) {
    for (const char* name : {"setpos.txr", "setsize.txr"}) {
        SCOPED_TRACE(name);
        const Decoded d = Load(name);
        int lit = 0, brightGreen = 0;
        for (int y = 0; y < d.image.height; ++y)
            for (int x = 0; x < d.image.width; ++x) {
                lit += d.Max(x, y) != 0;
                brightGreen += d.At(x, y, 1) > 240;  // shown through a green colour
            }
        EXPECT_GT(brightGreen, 200);
        EXPECT_LT(lit, d.image.width * d.image.height / 4);
    }
}

// Character code c sits in column c % 16, row c / 16 from the top: control codes (top row)
// are empty, "A" (65) is in column 1 of row 4, the space is empty.
TEST(Pictures, FontGridStartsWithCodeZeroAtTheTop) {
    const Decoded d = Load("font.bmp");
    ASSERT_EQ(d.image.width % 16, 0);
    ASSERT_EQ(d.image.height % 16, 0);
    const int cw = d.image.width / 16, ch = d.image.height / 16;
    const auto litInCell = [&](int code) {
        int lit = 0;
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) lit += d.Max((code % 16) * cw + x, (code / 16) * ch + y) > 128;
        return lit;
    };
    for (int code = 0; code < 16; ++code) EXPECT_EQ(litInCell(code), 0) << code;
    EXPECT_EQ(litInCell(' '), 0);
    for (int code : {int{'A'}, int{'W'}, int{'0'}, int{'g'}, 0xC4 /* A with diaeresis */}) EXPECT_GT(litInCell(code), 5) << code;
    // White glyphs: the three channels agree.
    for (int y = 0; y < d.image.height; ++y)
        for (int x = 0; x < d.image.width; ++x)
            ASSERT_TRUE(d.At(x, y, 0) == d.At(x, y, 1) && d.At(x, y, 1) == d.At(x, y, 2));
}

TEST(Pictures, IconHasA32By32EntryWhoseAndMaskMatchesItsAlpha) {
    const std::string bytes = testsupport::ReadWholeFile(testsupport::RunDir() + "/plane2.ico");
    ASSERT_GE(bytes.size(), 22u);
    EXPECT_EQ(Le32(bytes, 0), 0x00010000u);  // reserved 0, type 1 (icon)
    ASSERT_EQ(Le32(bytes, 4) & 0xFFFF, 1u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[6]), 32);
    EXPECT_EQ(static_cast<unsigned char>(bytes[7]), 32);
    const std::uint32_t size = Le32(bytes, 14), offset = Le32(bytes, 18);
    ASSERT_LE(std::uint64_t{offset} + size, bytes.size());
    const auto* dib = reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
    EXPECT_EQ(Le32(bytes, offset + 8), 64u);  // the doubled height: picture and mask
    DibRgbaImage icon;
    ASSERT_TRUE(DecodeDib(dib, size, true, icon));
    ASSERT_EQ(icon.width, 32);
    ASSERT_EQ(icon.height, 32);
    const unsigned char* andMask = dib + 40 + 32 * 32 * 4;
    int opaque = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const int alpha = icon.rgba[(y * 32 + x) * 4 + 3];
            const bool maskSet = andMask[(31 - y) * 4 + x / 8] & (0x80 >> (x % 8));
            EXPECT_EQ(maskSet, alpha < 128) << x << "," << y;
            opaque += alpha == 255;
        }
    EXPECT_EQ(icon.rgba[3], 0);                     // transparent corner
    EXPECT_EQ(icon.rgba[(16 * 32 + 16) * 4 + 3], 255);  // the aeroplane's body in the middle
    EXPECT_GT(opaque, 100);
}

}  // namespace
