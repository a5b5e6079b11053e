// The instrument's frame drawn through real OpenGL (Mesa under a virtual X server) with
// synthetic pictures whose marks let the tests measure where each element lands, which way it
// turned and how it was blended.
#include "GlTestSupport.h"

#include "base/InstrumentState.h"
#include "display/Drawing.h"
#include "display/Textures.h"

#include <cmath>

namespace {

using gltest::Black;
using gltest::Picture;
using gltest::White;
using Colour = Picture::Colour;

constexpr Colour Red{255, 0, 0};
constexpr Colour Green{0, 255, 0};
constexpr Colour Blue{0, 0, 255};
constexpr Colour Yellow{255, 255, 0};
constexpr Colour Cyan{0, 255, 255};
constexpr double DialZ = -2.4, SelectorZ = -7.0;

bool Near(Colour a, Colour b, int tolerance = 4) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}
std::string Text(Colour c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}
bool IsMasks(int slot) { return slot == SlotFaceMask || slot == SlotNeedle1Mask || slot == SlotNeedle2Mask; }

// Bearing of a blob seen from the middle of the window, counter-clockwise from the right.
double Bearing(const gltest::Blob& b, int width, int height) {
    return std::atan2(b.y - height / 2.0, b.x - width / 2.0) * 180.0 / M_PI;
}
double AngleBetween(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

class DrawingTest : public gltest::GlWindowTest {
protected:
    void SetUp() override {
        gltest::GlWindowTest::SetUp();
        if (HasFatalFailure()) return;
        Needle1Vor = Needle2Vor = true;
        PositionMode = SizeMode = false;
        GLuint names[TextureCount];
        glGenTextures(TextureCount, names);
        // Nothing shows unless a test gives it a picture: black pictures, white masks.
        for (int slot = 0; slot < TextureCount; ++slot) {
            TextureNames[slot] = names[slot];
            Use(slot, Picture(64, 64, IsMasks(slot) ? White : Black));
        }
    }
    void TearDown() override {
        if (window_) glDeleteTextures(TextureCount, reinterpret_cast<GLuint*>(TextureNames));
    }

    void Use(int slot, const Picture& p) { gltest::UploadPicture(TextureNames[slot], p); }

    static Picture Frame(float card, float needle1, float needle2) {
        DrawDial(card);
        DrawNeedles(needle1, needle2);
        DrawOverlays();
        return ReadFrame();
    }
    // The frame's colour at a point of the dial (x, y in eye units at depth z).
    static Colour At(const Picture& frame, double x, double y, double z = DialZ) {
        double px, py;
        gltest::ProjectToWindow(x, y, z, Width, Height, px, py);
        return frame.At(int(px), int(py));
    }
    // Card with a red mark at its top, needles as bars from near the hub to the top, needle 1
    // blue over a black mask bar, needle 2 green.
    void UsePointerPictures() {
        Use(SlotCard, Picture(64, 64, Black).Fill(0.45, 0.89, 0.55, 0.98, Red));
        Use(SlotNeedle2, Picture(64, 64, Black).Fill(0.46, 0.6, 0.54, 0.84, Green));
        Use(SlotNeedle1Mask, Picture(64, 64, White).Fill(0.46, 0.6, 0.54, 0.84, Black));
        Use(SlotNeedle1, Picture(64, 64, Black).Fill(0.46, 0.6, 0.54, 0.84, Blue));
    }
};

// The card turns counter-clockwise by its angle, each needle clockwise by its own; angles are
// used as they come, so negative ones and those beyond a whole turn read like their equivalents.
TEST_F(DrawingTest, CardAndNeedlesTurnTheirOwnWay) {
    UsePointerPictures();
    struct Case {
        float card, needle1, needle2;
    } cases[] = {{0, 0, 180}, {90, 90, -90}, {-90, -90, 90}, {-360, 400, 130}, {405, -135, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE("card " + std::to_string(c.card) + " needle1 " + std::to_string(c.needle1) +
                     " needle2 " + std::to_string(c.needle2));
        const Picture frame = Frame(c.card, c.needle1, c.needle2);
        const auto red = gltest::FindBlob(frame, [](Colour p) { return p.r > 128 && p.g < 64 && p.b < 64; });
        const auto blue = gltest::FindBlob(frame, [](Colour p) { return p.b > 128 && p.r < 64 && p.g < 64; });
        const auto green = gltest::FindBlob(frame, [](Colour p) { return p.g > 128 && p.r < 64 && p.b < 64; });
        ASSERT_GT(red.count, 50);
        ASSERT_GT(blue.count, 50);
        ASSERT_GT(green.count, 50);
        EXPECT_LT(AngleBetween(Bearing(red, Width, Height), 90 + c.card), 2.0);
        EXPECT_LT(AngleBetween(Bearing(blue, Width, Height), 90 - c.needle1), 2.0);
        EXPECT_LT(AngleBetween(Bearing(green, Width, Height), 90 - c.needle2), 2.0);
    }
}

// Masks and added pictures: the face mask covers the card under the fixed face, needle 2 adds
// onto the card, needle 1 covers needle 2 and the card. The first frame after set-up (blending
// off, depth test on) looks the same as the next, and every frame leaves the state the next
// frame starts from.
TEST_F(DrawingTest, LayersCoverAndAddAndTheFirstFrameMatchesLaterOnes) {
    Use(SlotCard, Picture(64, 64, {100, 0, 0}));
    Use(SlotFaceMask, Picture(64, 64, White).Fill(0.1, 0.1, 0.3, 0.3, Black));
    Use(SlotFace, Picture(64, 64, Black).Fill(0.1, 0.1, 0.3, 0.3, {0, 0, 120}));
    Use(SlotNeedle2, Picture(64, 64, Black).Fill(0.46, 0.1, 0.54, 0.9, Green));
    Use(SlotNeedle1Mask, Picture(64, 64, White).Fill(0.46, 0.1, 0.54, 0.9, Black));
    Use(SlotNeedle1, Picture(64, 64, Black).Fill(0.46, 0.1, 0.54, 0.9, Blue));

    struct Probe {
        const char* where;
        double x, y;
        Colour expected;
    } probes[] = {
        {"hub, where needle 1 crosses needle 2", 0, 0, Blue},
        {"needle 1 over the card", 0, 0.6, Blue},
        {"needle 2 added onto the card", 0.6, 0, {100, 255, 0}},
        {"face patch covering the card", -0.6, -0.6, {0, 0, 120}},
        {"bare card", 0.5, 0.5, {100, 0, 0}},
    };
    Picture frames[2] = {Frame(37, 0, 90), Frame(37, 0, 90)};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "first frame" : "second frame");
        for (const Probe& p : probes) {
            const Colour got = At(frames[i], p.x, p.y);
            EXPECT_TRUE(Near(got, p.expected)) << p.where << ": " << Text(got);
        }
        EXPECT_TRUE(glIsEnabled(GL_BLEND));
        EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
        GLint src = 0, dst = 0;
        glGetIntegerv(GL_BLEND_SRC, &src);
        glGetIntegerv(GL_BLEND_DST, &dst);
        EXPECT_EQ(src, GL_ONE);
        EXPECT_EQ(dst, GL_ONE);
    }
    EXPECT_LE(gltest::LargestDifference(frames[0], frames[1]), 1);
}

// Each selector has a mark in an upper corner of its inner edge (the edge that stays in view in
// the ADF pose), so that its place, turn and height all show. Flipping one source moves and
// turns only its own selector.
TEST_F(DrawingTest, EachSourceFlipMovesAndTurnsOnlyItsSelector) {
    Use(SlotNeedle2Selector, Picture(64, 64, Black).Fill(1 / 64., 54 / 64., 7 / 64., 62 / 64., Cyan));
    Use(SlotNeedle1Selector, Picture(64, 64, Black).Fill(57 / 64., 54 / 64., 63 / 64., 62 / 64., Yellow));
    struct Pose {
        double x, y, degrees;
    };
    struct Selector {
        double markX, markY;  // the mark's centre in the selector's own frame
    };
    const Selector selector2{-0.875, 0.8125 * 0.85}, selector1{0.875, 0.8125 * 0.8};
    const Pose vor2{1.8, -1.8, 90}, adf2{3.5, -1.9, 0}, vor1{-2.1, -1.8, 270}, adf1{-3.6, -2.05, 0};
    auto expect = [](const gltest::Blob& blob, const Pose& pose, const Selector& s) {
        const double c = std::cos(pose.degrees * M_PI / 180.0), n = std::sin(pose.degrees * M_PI / 180.0);
        double px, py;
        gltest::ProjectToWindow(pose.x + s.markX * c - s.markY * n, pose.y + s.markX * n + s.markY * c,
                                SelectorZ, Width, Height, px, py);
        ASSERT_GT(blob.count, 10);
        EXPECT_NEAR(blob.x, px, 1.5);
        EXPECT_NEAR(blob.y, py, 1.5);
    };
    for (bool vor1Source : {true, false})
        for (bool vor2Source : {true, false}) {
            SCOPED_TRACE(std::string("needle 1 ") + (vor1Source ? "VOR" : "ADF") + ", needle 2 " +
                         (vor2Source ? "VOR" : "ADF"));
            Needle1Vor = vor1Source;
            Needle2Vor = vor2Source;
            const Picture frame = Frame(0, 0, 0);
            expect(gltest::FindBlob(frame, [](Colour p) { return p.r < 64 && p.g > 128 && p.b > 128; }),
                   vor2Source ? vor2 : adf2, selector2);
            expect(gltest::FindBlob(frame, [](Colour p) { return p.r > 128 && p.g > 128 && p.b < 64; }),
                   vor1Source ? vor1 : adf1, selector1);
        }
}

// The mode pictures show, in green only, exactly while their mode is on; the selectors drawn
// after them stay in their own colours.
TEST_F(DrawingTest, ModePicturesShowGreenOnlyInTheirMode) {
    Use(SlotPositionMode, Picture(64, 64, Black).Fill(0.1, 0.7, 0.3, 0.9, White));
    Use(SlotSizeMode, Picture(64, 64, Black).Fill(0.7, 0.7, 0.9, 0.9, White));
    Use(SlotNeedle1Selector, Picture(64, 64, White));
    Use(SlotNeedle2Selector, Picture(64, 64, White));
    const double modeZ = -4.0;
    struct Case {
        bool position, size;
    } cases[] = {{false, false}, {true, false}, {false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("position mode ") + (c.position ? "on" : "off") + ", size mode " +
                     (c.size ? "on" : "off"));
        PositionMode = c.position;
        SizeMode = c.size;
        const Picture frame = Frame(0, 0, 0);
        const Colour positionPatch = At(frame, -0.6, 0.6, modeZ);
        const Colour sizePatch = At(frame, 0.6, 0.6, modeZ);
        EXPECT_TRUE(Near(positionPatch, c.position ? Green : Black)) << Text(positionPatch);
        EXPECT_TRUE(Near(sizePatch, c.size ? Green : Black)) << Text(sizePatch);
        EXPECT_TRUE(Near(At(frame, -2.1, -1.8, SelectorZ), White));
        EXPECT_TRUE(Near(At(frame, 1.8, -1.8, SelectorZ), White));
    }
}

}  // namespace
