// The instrument's pictures as OpenGL textures, and the bitmap font as display lists.
// Runs at every window creation with the window's rendering context current.
#pragma once

#include <cstdint>
#include <memory>

// One decoded picture: width x height pixels of red, green, blue bytes, bottom row first,
// each row padded to a multiple of 4 bytes (the GL's default unpack alignment).
struct RgbImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::unique_ptr<unsigned char[]> pixels;
};

inline constexpr int TextureCount = 11;

// Picture slots, by what Part of the instrument they show.
enum TextureSlot {
    SlotCard = 0,
    SlotFaceMask = 1,
    SlotFace = 2,
    SlotNeedle2Mask = 3,
    SlotNeedle2 = 4,
    SlotNeedle1Mask = 5,
    SlotNeedle1 = 6,
    SlotPositionMode = 7,
    SlotSizeMode = 8,
    SlotNeedle2Selector = 9,
    SlotNeedle1Selector = 10,
};

// The picture files in the order they are read, each with the slot it goes to.
struct PictureFile {
    const char* name;
    int slot;
};
inline constexpr PictureFile PictureFiles[TextureCount] = {
    {"VOR_ADF.txr", SlotCard},
    {"VOR_ADF_ind_mask.txr", SlotFaceMask},
    {"VOR_ADF_ind.txr", SlotFace},
    {"VOR1_mask.txr", SlotNeedle1Mask},
    {"VOR1_ago.txr", SlotNeedle1},
    {"VOR2_mask.txr", SlotNeedle2Mask},
    {"VOR2_ago.txr", SlotNeedle2},
    {"setpos.txr", SlotPositionMode},
    {"setsize.txr", SlotSizeMode},
    {"VOR1ADF.txr", SlotNeedle1Selector},
    {"VOR2ADF.txr", SlotNeedle2Selector},
};
inline constexpr char FontFile[] = "font.bmp";

extern std::uint32_t TextureNames[TextureCount];
extern std::uint32_t FontTextureName;
extern std::uint32_t FontListBase;

// Reads a Windows bitmap file; null for an absent or empty name, a missing file, a
// folder, or a file it cannot read. Never shows a message.
std::unique_ptr<RgbImage> LoadBitmapFile(const char* fileName);

// Loads the eleven pictures and the font picture; in FSUIPC mode also opens the link.
bool LoadTextures();
// Builds the 256 font display lists over the font texture.
void MakeFontLists();
