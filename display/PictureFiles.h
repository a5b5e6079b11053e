// The instrument's picture files, by the names it opens from its current directory: the one
// list the instrument's loader, the picture generator and the build (which reads the quoted
// names below) all go by. Plain data: no GL needed.
#pragma once

// Texture slots, by what part of the instrument they show.
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
inline constexpr int TextureCount = 11;

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
// The bitmap font, and the icon of the window class and the application.
inline constexpr char FontFile[] = "font.bmp";
inline constexpr char IconFile[] = "plane2.ico";
