// Loading the instrument's pictures into real OpenGL textures (Mesa under a virtual X server)
// from bitmap files written into a temporary folder, and the font's display lists.
#include "GlTestSupport.h"

#include "base/Configuration.h"
#include "display/Textures.h"
#include "flightdata/FPCuser.h"
// The stand-in's end of the link, served on a thread of this test program.
#include "SimulatorLink.h"

#include <filesystem>
#include <sys/stat.h>

namespace {

using gltest::Black;
using gltest::Picture;
using gltest::White;
using Colour = Picture::Colour;
using testsupport::ScopedCurrentDirectory;
using testsupport::TempDir;
using testsupport::WriteWholeFile;

// Where the installation's picture files go.
struct SlotFile {
    const char* name;
    int slot;
};
constexpr SlotFile Slots[] = {
    {"VOR_ADF.txr", 0},   {"VOR_ADF_ind_mask.txr", 1}, {"VOR_ADF_ind.txr", 2},
    {"VOR2_mask.txr", 3}, {"VOR2_ago.txr", 4},         {"VOR1_mask.txr", 5},
    {"VOR1_ago.txr", 6},  {"setpos.txr", 7},           {"setsize.txr", 8},
    {"VOR2ADF.txr", 9},   {"VOR1ADF.txr", 10},
};

// A 2x2 picture of its own colours for each slot: rows of 6 bytes need padding in the file
// and in memory, and the two coloured corners show which row went first.
Picture SlotPicture(int slot) {
    const Colour c{std::uint8_t(30 + 20 * slot), std::uint8_t(200 - 15 * slot),
                   std::uint8_t(5 + 23 * slot)};
    Picture p(2, 2, Black);
    p.Set(0, 0, c);
    p.Set(1, 1, {c.g, c.b, c.r});
    return p;
}
// The font's cell in column col and row (from the top) row.
Colour CellColour(int col, int row) { return {std::uint8_t(col * 16 + 8), std::uint8_t(row * 16 + 8), 77}; }

class TexturesTest : public gltest::GlWindowTest {
protected:
    void SetUp() override {
        gltest::GlWindowTest::SetUp();
        if (HasFatalFailure()) return;
        for (const SlotFile& f : Slots)
            WriteWholeFile(dir_.File(f.name), gltest::BitmapFileBytes(SlotPicture(f.slot)));
        // Two by two texels per cell, so that a glyph drawn 16 pixels wide samples its own cell
        // alone; the picture's rows are stored bottom row first.
        Picture font(32, 32, Black);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) font.Set(x, y, CellColour(x / 2, 15 - y / 2));
        WriteWholeFile(dir_.File("font.bmp"), gltest::BitmapFileBytes(font));
        for (auto& name : TextureNames) name = 0;
        FontTextureName = 0;
        NetworkMode = true;
        // A link folder of our own keeps simulator stand-ins of other tests out of the way.
        chmod(linkDir_.Path().c_str(), 0700);
        setenv("KORVA_LINK_DIR", linkDir_.Path().c_str(), 1);
    }

    static void ExpectLinear(GLuint name) {
        glBindTexture(GL_TEXTURE_2D, name);
        GLint mag = 0, min = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
        EXPECT_EQ(mag, GL_LINEAR);
        EXPECT_EQ(min, GL_LINEAR);
    }
    // In FSUIPC mode loading also tries the simulator link; never leave it open behind a test.
    static bool Load() {
        const bool result = LoadTextures();
        if (!NetworkMode) IpcClose();
        return result;
    }

    TempDir dir_, linkDir_;
    ScopedCurrentDirectory cwd_{dir_.Path()};
};

// Every picture lands in its own slot whole (not in reading order), every texture filters
// linearly, and with the pictures present the result is true whether or not a simulator runs.
TEST_F(TexturesTest, PicturesLandInTheirSlotsInBothModes) {
    for (bool network : {true, false}) {
        SCOPED_TRACE(network ? "network mode" : "FSUIPC mode, no simulator");
        NetworkMode = network;
        ASSERT_TRUE(Load());
        for (const SlotFile& f : Slots) {
            SCOPED_TRACE(f.name);
            ASSERT_TRUE(glIsTexture(TextureNames[f.slot]));
            EXPECT_EQ(gltest::ReadTexture(TextureNames[f.slot]).rgb, SlotPicture(f.slot).rgb);
            ExpectLinear(TextureNames[f.slot]);
        }
        ASSERT_TRUE(glIsTexture(FontTextureName));
        EXPECT_EQ(gltest::ReadTexture(FontTextureName).At(2, 31 - 8), CellColour(1, 4));
        ExpectLinear(FontTextureName);
    }
}

// Without a readable compass card nothing is made, and the scene can start only in FSUIPC mode
// with the simulator's link open.
TEST_F(TexturesTest, WithoutTheCardNoTextureIsMade) {
    auto removeCard = [](const TempDir& d) { std::filesystem::remove(d.File("VOR_ADF.txr")); };
    struct Case {
        const char* what;
        bool network, simulator, result;
        std::function<void(const TempDir&)> spoil;
    } cases[] = {
        {"card missing, network mode", true, false, false, removeCard},
        {"card is a folder", true, false, false,
         [&](const TempDir& d) {
             removeCard(d);
             std::filesystem::create_directory(d.File("VOR_ADF.txr"));
         }},
        {"card is not a bitmap", true, false, false,
         [](const TempDir& d) { WriteWholeFile(d.File("VOR_ADF.txr"), "not a picture at all"); }},
        {"card missing, FSUIPC mode without a simulator", false, false, false, removeCard},
        {"card missing, FSUIPC mode with the simulator running", false, true, true, removeCard},
        {"card missing, network mode with the simulator running", true, true, false, removeCard},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ScopedCurrentDirectory cwd(dir.Path());
        for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
            std::filesystem::copy(entry.path(), dir.File(entry.path().filename().string()));
        c.spoil(dir);
        OffsetMemory memory;
        memory.WriteUnsigned(0x3304, 4, 0x40000000);  // versions the link accepts
        memory.WriteUnsigned(0x3308, 4, 0xFADE0007);
        SimulatorLink simulator(memory);
        std::string error;
        if (c.simulator) {
            ASSERT_TRUE(simulator.Start("FS98MAIN", error)) << error;
        }
        NetworkMode = c.network;
        EXPECT_EQ(Load(), c.result);
        for (auto name : TextureNames) EXPECT_EQ(name, 0u);
        EXPECT_EQ(FontTextureName, 0u);
    }
}

// With the card present, a missing or unreadable picture gets a one-pixel stand-in that leaves
// the instrument readable: white for a mask (covers nothing), black for a picture or the font
// (adds nothing). Every slot still holds a texture.
TEST_F(TexturesTest, OtherMissingPicturesGetHarmlessStandIns) {
    std::filesystem::remove(dir_.File("VOR1_mask.txr"));
    std::filesystem::remove(dir_.File("VOR2_ago.txr"));
    std::filesystem::remove(dir_.File("font.bmp"));
    WriteWholeFile(dir_.File("setpos.txr"), "BM garbage");
    ASSERT_TRUE(Load());
    const Picture white(1, 1, White), black(1, 1, Black);
    struct Expect {
        GLuint name;
        Picture picture;
    } expected[] = {
        {TextureNames[5], white}, {TextureNames[4], black}, {TextureNames[7], black},
        {FontTextureName, black}, {TextureNames[6], SlotPicture(6)},
    };
    for (const Expect& e : expected) {
        ASSERT_TRUE(glIsTexture(e.name));
        EXPECT_EQ(gltest::ReadTexture(e.name).rgb, e.picture.rgb) << "texture " << e.name;
    }
}

// Each font list draws its own cell of "font.bmp" with whatever texture is bound when it is
// called (the lists bind none) and moves the current position 10 units to the right.
TEST_F(TexturesTest, FontListsDrawTheirCellAndAdvance) {
    ASSERT_TRUE(Load());
    MakeFontLists();
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), FontTextureName);

    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, Width, 0, Height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    auto drawAlone = [](int code) {
        glClear(GL_COLOR_BUFFER_BIT);
        glLoadIdentity();
        glCallList(FontListBase + code);
        return ReadFrame();
    };
    for (int code : {0, 15, 65, 200, 255}) {
        SCOPED_TRACE("character " + std::to_string(code));
        ASSERT_TRUE(glIsList(FontListBase + code));
        glBindTexture(GL_TEXTURE_2D, FontTextureName);
        const Picture frame = drawAlone(code);
        const Colour want = CellColour(code % 16, code / 16), got = frame.At(8, 8);
        EXPECT_NEAR(got.r, want.r, 2);
        EXPECT_NEAR(got.g, want.g, 2);
        EXPECT_NEAR(got.b, want.b, 2);
        EXPECT_EQ(frame.At(16, 8), Black) << "glyph wider than 16 units";
        GLdouble m[16];
        glGetDoublev(GL_MODELVIEW_MATRIX, m);
        EXPECT_DOUBLE_EQ(m[12], 10.0);
        EXPECT_DOUBLE_EQ(m[13], 0.0);
    }

    GLuint magenta = 0;
    glGenTextures(1, &magenta);
    gltest::UploadPicture(magenta, Picture(1, 1, {255, 0, 255}));
    EXPECT_EQ(drawAlone(65).At(8, 8), Colour({255, 0, 255}));
    glDeleteTextures(1, &magenta);
}

}  // namespace
